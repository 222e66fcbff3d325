#pragma once

#include "cloud/GraphicsOutput.h"

#include <QList>
#include <QString>

namespace corvane {

// The account's graphics outputs as the graphics source shows them: one value, made on the
// user-interface thread and never changed afterwards, so that any thread may read it (OBS
// and obs-websocket ask for a source's properties from threads of their own).
struct OutputsView {
    bool signedIn = false;
    QList<GraphicsOutput> outputs;
    QString error; // why the last fetch failed; empty after a success
};

} // namespace corvane
