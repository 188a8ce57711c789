#pragma once

#include "FakePanel.h"
#include "document/TALVEN77PCDoc.h"
#include "settings/Setting.h"
#include "view/TALVEN77PCView.h"

#include <memory>

// The document of a save folder and a view on it, with a fake control panel in
// place, set up as the window does: the document's start-up checks, then the view.
// The settings are as constructed (every column and the row numbers shown) until a
// test loads or changes them before open.
struct ViewFixture
{
    CSetting setting;
    CTALVEN77PCDoc document;
    FakePanel panel;
    std::unique_ptr<CTALVEN77PCView> view;

    ViewFixture() = default;
    // With a copy of these settings, opened at once.
    ViewFixture(const QString& save, const CSetting& settings) : setting(settings) { open(save); }
    ViewFixture(const ViewFixture&) = delete;
    ViewFixture& operator=(const ViewFixture&) = delete;
    ~ViewFixture()
    {
        if (view)
            view->setPanel(nullptr);
    }

    void open(const QString& save)
    {
        document.RunStartupChecks(save);
        view = std::make_unique<CTALVEN77PCView>(document, setting);
        view->setPanel(&panel);
        view->OnInitialUpdate();
    }
};
