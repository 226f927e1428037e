#pragma once

#include <functional>
#include <string>

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

// Saves a picture of the dialog in front as a PNG file.
bool SaveActiveModal(const std::string& pngPath);

} // namespace zk::test
