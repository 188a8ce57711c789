#pragma once

#include <QString>

// Shows a notification through the freedesktop notification service on the session
// bus (org.freedesktop.Notifications), captioned with the program's title and
// carrying its icon and desktop entry (the "desktop-entry" hint). False,
// and nothing shown, when there is no session bus or no service on it; the call
// does not wait for more than a moment.
bool ShowDesktopNotification(const QString& body);
