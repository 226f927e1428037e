#pragma once

namespace zk::test {

// Starts a GUI application on the off-screen platform once per process, for
// tests that lay out text (fonts need a running GUI). A test that already
// made an application keeps its own.
void EnsureOffscreenGui();

} // namespace zk::test
