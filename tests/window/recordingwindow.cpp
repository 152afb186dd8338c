#include "recordingwindow.h"

#include "commcontrol.h"
#include "portlist.h"

void RecordingWindow::showMessage(const QString& text, int icon) {
    messages.append({text, icon, Com_Puerto->currentIndex(), Serie1.PortOpen(), logText()});
    if (whileOpen) {
        // A copy: the hook may raise further messages, which grow the list.
        const Message shown = messages.last();
        whileOpen(shown);
    }
}
