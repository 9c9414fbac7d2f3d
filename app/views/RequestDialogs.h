#pragma once

#include "model/Requests.h"

class QWidget;

namespace tallyfox {

// Answers a model's requests with dialogs over `window`: a file chooser, or a message box
// with the request's buttons. The dialogs are window-modal and do not block the event loop;
// a dialog closed without a choice answers as cancelled.
void answerRequests(Requests& requests, QWidget* window);

}  // namespace tallyfox
