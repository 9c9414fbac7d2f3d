#pragma once

class QMainWindow;

namespace tallyfox {

class AppDelegate;
class BrowserModel;

namespace MenuBar {

// The menu bar of a window: File (New Scan…, Open…, Open Recent, the snapshot's file commands,
// Close, Settings…, Quit), Navigate, Window (Start Window and the open snapshots) and Help
// (Check for Updates…). The snapshot's commands come from the command table and act on
// `browser`; without one (the start window) they are there but disabled, as in any window
// that shows no snapshot. `app` may be absent (a window shown on its own), which leaves the
// application-wide items inert.
void install(QMainWindow* window, AppDelegate* app, BrowserModel* browser);

}  // namespace MenuBar
}  // namespace tallyfox
