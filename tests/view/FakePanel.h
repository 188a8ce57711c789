#pragma once

#include "player/RecordingPanel.h"

#include <QFileInfo>
#include <QStringList>

// Records what the view and the list ask of the control panel.
struct FakePanel : RecordingPanel
{
    QStringList calls;
    bool allowed = false;
    bool usb = false;
    // Called at each unload, before the call is recorded (a test looks at the world then).
    std::function<void()> onUnload;

    QString loadedPath; // the path of the last recording loaded
    bool LoadRecording(const QString& path, int position) override
    {
        loadedPath = path;
        calls.append(QStringLiteral("load %1 %2").arg(QFileInfo(path).fileName()).arg(position));
        return true;
    }
    bool UnloadRecording(int count) override
    {
        if (onUnload)
            onUnload();
        calls.append(QStringLiteral("unload %1").arg(count));
        return true;
    }
    void setControlsAllowed(bool value) override { allowed = value; }
    void setPosition(int) override {}
    void setUsbConnected(bool connected) override { usb = connected; }
    bool canPlay() const override { return true; }
    bool listening = false; // what isListening() answers
    bool isListening() const override { return listening; }
    void OnPlay() override { calls.append(QStringLiteral("play")); }
    // The last recording loaded, by file name; empty when none.
    QString lastLoaded() const
    {
        for (qsizetype i = calls.size() - 1; i >= 0; --i) {
            if (calls[i].startsWith(QStringLiteral("load ")))
                return calls[i].section(u' ', 1, 1);
        }
        return {};
    }
};
