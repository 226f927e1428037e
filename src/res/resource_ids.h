#pragma once

namespace zk {

// Ids of the skin images the program carries (PNG with alpha, loaded by id).
enum CImageId : int
{
    IDB_TITLE_LOGO = 201,       // 63 x 12, "Zarumatekit" in white for the main window's caption
    IDB_CLOSE_SMALL = 202,      // 16 x 16 round close button
    IDB_CLOSE_LARGE = 203,      // 24 x 24, the close button under the pointer
    IDB_MINIMIZE_SMALL = 204,   // 16 x 16 round minimise button
    IDB_MINIMIZE_LARGE = 205,   // 24 x 24, the minimise button under the pointer
    IDB_SCROLL_UP = 206,        // 11 x 7 arrow
    IDB_SCROLL_DOWN = 207,      // 11 x 7 arrow
    IDB_DOTTED_SEPARATOR = 210, // 3 x 1 texture: white, grey 158, white
    IDB_FRAME_TEXTURE = 211,    // 28 x 14 dark diagonal stripes, tiling in both directions
    IDB_LINK_GAME_ROOM = 213,   // 15 x 14 house
    IDB_BUTTON_DELETE = 216,    // 68 x 24 red button "削除"
    IDB_BUTTON_CLOSE = 217,     // 68 x 24 grey button "閉じる"
    IDB_LINK_LIFE = 219,        // 15 x 14 sprout
    IDB_LINK_BLOG = 222,        // 15 x 14 notebook
    IDB_LINK_MICROBLOG = 223,   // 15 x 14 speech bubble
    IDB_PROFILE_TITLE = 225, // 77 x 12, "プロフィール" in white for the detail popup's caption
};

} // namespace zk
