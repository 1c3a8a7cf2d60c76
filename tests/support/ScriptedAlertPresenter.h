#pragma once

#include "uikit/AlertPresenter.h"

#include <QList>
#include <QPointer>
#include <QWidget>

// Records every alert it is asked to show and answers at once from its script (the first button
// unless told otherwise). For the tests of the interface, which link the widget kit.
class ScriptedAlertPresenter : public AlertPresenter {
public:
    QList<AlertRequest> requests;
    QList<QPointer<QWidget>> parents;
    AlertResponse next;

    async::Task<AlertResponse> ask(AlertRequest request, QWidget* parent, std::stop_token) override {
        requests.append(request);
        parents.append(parent);
        co_return next;
    }
};
