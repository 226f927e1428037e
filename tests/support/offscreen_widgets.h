#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zk::test {

// Starts the off-screen widget application once per process (the same one
// EnsureOffscreenGui starts), for tests of standard dialogs.
void EnsureOffscreenWidgets();

// Runs the task from the event loop as soon as one runs, such as the loop
// of a modal dialog that the test then drives.
void RunSoon(std::function<void()> task);

// Closes the modal dialog now shown as Esc does; false when none is shown.
bool RejectActiveModal();

// Types the path into the file chooser now shown and confirms it; false
// when no file chooser is shown.
bool AcceptActiveFileDialog(const std::string& path);

// Types the text key by key into the drop-down field of the modal dialog
// now shown, as a user would (completion sees every key), then presses
// Return in it; false when no dialog with such a field is shown.
bool TypeIntoActiveCombo(const std::string& text);

// The texts of the push buttons and labels of the modal dialog now shown
// (a file chooser's among them), empty when none is shown.
std::vector<std::string> ActiveModalTexts();

// The size of the modal dialog now shown, and the rightmost edge of its
// controls; false when none is shown.
bool ActiveModalExtent(int& width, int& height, int& contentRight);

} // namespace zk::test
