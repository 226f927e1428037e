#include "capture/scan_budget.h"
#include "capture/zarumate_sock.h"
#include "platform/text_convert.h"
#include "platform/text_html.h"
#include "res/string_table.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <string_view>
#include <utility>

namespace zk {
namespace {

// Body bytes, as received (chunk-size lines included), the page handler needs
// before it tests a response; the test looks only at this many bytes. For a
// body sent with a content coding the three lengths count decoded bytes: the
// coded bytes it takes to decode them have a bound of their own in the HTTP
// layer, and nothing beyond the give-up length is ever decoded.
constexpr std::size_t kPageTestBytes = 2000;
// Body bytes needed before a microblog page is decoded and scanned.
constexpr std::size_t kPageScanBytes = 4000;
// Length at or above which a page that yielded nobody is given up.
constexpr std::size_t kPageGiveUpBytes = 8000;

// The work one search of a pattern may do, in characters the engine steps
// over. On a real page a search steps over each character a few times at
// most (three on a page crowded with spans and links that are not the
// profile's), so 64 leaves ample room. A page built to make the engine
// backtrack would cost it the square or cube of its length, seconds on an
// 8000-byte page rescanned with every piece; it is given up as holding
// nobody once the budget is spent, after a few milliseconds.
constexpr std::size_t kScanStepsPerChar = 64;
constexpr std::size_t kScanBaseSteps = 100'000;

constexpr std::uint32_t kIdPatternId = 900;
constexpr std::uint32_t kNamePatternId = 901;

// Microblog pages declare their encoding in exactly this spelling.
constexpr std::string_view kEncodingText = "UTF-8";
constexpr const wchar_t* kMarkerText = L"Nimboなう";

// Compiles a scraping pattern with Boost's default Perl syntax, where "^"
// also matches at a line start and "." matches a newline. A pattern that does
// not compile, or a missing string, is left empty and never matches.
void CompilePattern(const std::wstring& text, boost::wregex& pattern)
{
    if (text.empty())
        return;
    try {
        pattern.assign(text, boost::regex_constants::perl);
    } catch (const std::exception&) {
        pattern = boost::wregex();
    }
}

// Group 1 of the first match of pattern in text. Any exception of the
// regular-expression engine (a match grown too complex, say) counts as no
// match, as does a pattern that never compiled, and so does a search that
// spends its budget.
bool SearchGroup(const std::wstring& text, const boost::wregex& pattern, std::wstring& group)
{
    if (pattern.empty())
        return false;
    CScanBudget budget(kScanBaseSteps + kScanStepsPerChar * text.size());
    try {
        const wchar_t* first = text.data();
        boost::match_results<CScanBudget::CIterator> match;
        bool found = boost::regex_search(budget.Begin(first), budget.Begin(first + text.size()),
                                         match, pattern);
        if (!found || match.size() < 2 || !match[1].matched)
            return false;
        group.assign(match[1].first.Position(), match[1].second.Position());
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

void CZarumateSock::PreparePageHandler()
{
    // The texts come from the string table once per process; every object
    // compiles its own patterns from them.
    static const std::wstring idText = LoadString(kIdPatternId);
    static const std::wstring nameText = LoadString(kNamePatternId);

    m_marker = WideToUtf8(kMarkerText);
    CompilePattern(idText, m_idPattern);
    CompilePattern(nameText, m_namePattern);
}

bool CZarumateSock::OnHttpResponse(const CSimpleHttpHeaderList& headers, const std::uint8_t* body,
                                   std::size_t length)
{
    CContentCodedBody coded(CDecodeLimits<CZarumateSock>::kMaxDecoderBytes);
    return OnHttpResponse(headers, body, length, coded);
}

bool CZarumateSock::OnHttpResponse(const CSimpleHttpHeaderList& headers, const std::uint8_t* body,
                                   std::size_t length, CContentCodedBody& coded)
{
    // A page is decided within its first 8000 decoded bytes, so no more are
    // ever decoded, however far the body expands.
    ECodedBody before = coded.State();
    ECodedBody state = coded.Update(headers, body, length, kPageGiveUpBytes);
    if (before == ECodedBody::NotRead) {
        for (EContentCoding coding : coded.Codings())
            ++m_stats.m_codedResponses[static_cast<std::size_t>(coding)];
    }
    switch (state) {
    case ECodedBody::NotRead:
    case ECodedBody::Plain:
        return OnPlainBody(headers, body, length);
    case ECodedBody::Decoding:
        return OnDecodedBody(coded.Decoded(), coded.NewBytes(), false);
    case ECodedBody::Ended:
        return OnDecodedBody(coded.Decoded(), coded.NewBytes(), true);
    case ECodedBody::Corrupt:
        // What a broken stream decoded to before it broke is not trusted:
        // the response ends here, and the connection's next one is examined.
        ++m_stats.m_codingsCorrupt;
        return false;
    case ECodedBody::Unknown:
        ++m_stats.m_codingsUnknown;
        return false;
    case ECodedBody::Capped:
        ++m_stats.m_codingsCapped;
        return false;
    }
    return false;
}

bool CZarumateSock::IsPageTop(std::string_view top) const
{
    // Two cheap byte searches near the top reject almost every response before
    // any decoding or regular-expression work.
    if (top.find(kEncodingText) == std::string_view::npos)
        return false;
    return !m_marker.empty() && top.find(m_marker) != std::string_view::npos;
}

bool CZarumateSock::OnPlainBody(const CSimpleHttpHeaderList& headers, const std::uint8_t* body,
                                std::size_t length)
{
    if (length < kPageTestBytes)
        return true;
    if (!IsPageTop(std::string_view(reinterpret_cast<const char*>(body), kPageTestBytes)))
        return false;
    if (length < kPageScanBytes)
        return true;

    // A chunked body is scanned on what the chunked decoder produced, and
    // many servers send their pages with a Content-Length instead of chunks:
    // a body that is not chunked is scanned as it stands.
    if (!IsChunkedBody(headers)) {
        if (Scan(Utf8ToWide(reinterpret_cast<const char*>(body), length)))
            return false;
        return length < kPageGiveUpBytes;
    }
    std::string decoded;
    // A chunked body whose framing breaks decodes to no more than it has:
    // what it decoded to is scanned once more, and it is done. Its raw
    // bytes would put size lines into the nickname.
    bool intact = DecodeChunkedBody(headers, body, length, decoded);
    // The body so far often ends inside a character; the conversion turns a
    // cut sequence into U+FFFD and never fails.
    if (Scan(Utf8ToWide(decoded)))
        return false;
    return intact && decoded.size() < kPageGiveUpBytes;
}

bool CZarumateSock::OnDecodedBody(std::string_view decoded, std::size_t newBytes, bool ended)
{
    // The plain rules, on decoded bytes. A coded stream that has ended will
    // never grow, so a page too short to decide is done with.
    if (decoded.size() < kPageTestBytes)
        return !ended;
    if (!IsPageTop(decoded.substr(0, kPageTestBytes)))
        return false;
    if (decoded.size() < kPageScanBytes)
        return !ended;
    // A piece that decoded to nothing new has nothing new to scan.
    if (newBytes == 0)
        return !ended;
    if (Scan(Utf8ToWide(decoded)))
        return false;
    return !ended && decoded.size() < kPageGiveUpBytes;
}

bool CZarumateSock::Scan(const std::wstring& text)
{
    // The first match of each pattern, independently of where the other
    // matched.
    std::wstring id;
    if (!SearchGroup(text, m_idPattern, id))
        return false;
    std::wstring name;
    if (!SearchGroup(text, m_namePattern, name))
        return false;
    // An id names a person in the list, in files and in links, and a page
    // holding a NUL or another control character in it is not taken at its
    // word: "bob" NUL "evil" is neither "bob" nor anyone else. The page is
    // done with, so that it is counted once.
    if (!IsStorableId(id)) {
        ++m_stats.m_idsRefused;
        return true;
    }

    // The title is HTML text: the page escapes the nickname as HTML does,
    // and the person's name is what the references stand for.
    auto person = std::make_shared<CZarumateData>();
    person->m_id = std::move(id);
    person->m_name = MakeStorableName(DecodeHtmlReferences(name));
    if (m_client)
        m_client->OnZarumateFound(person);
    return true;
}

} // namespace zk
