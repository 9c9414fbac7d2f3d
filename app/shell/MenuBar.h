#pragma once

class QMainWindow;

namespace tallyfox {

class AppDelegate;
class BrowserModel;

namespace MenuBar {

// The menu bar of a window: File (New Scan…, Open…, Open Recent, Close, Settings…, Quit) and,
// for a snapshot window, Navigate (Back, Forward, Enclosing Folder, Enter Folder); then Help
// (Check for Updates…). `app` may be absent (a window shown on its own), which leaves the
// application-wide items inert.
void install(QMainWindow* window, AppDelegate* app, BrowserModel* browser);

}  // namespace MenuBar
}  // namespace tallyfox
