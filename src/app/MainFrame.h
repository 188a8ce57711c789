#pragma once

#include "view/CommandRules.h"

#include <QMainWindow>
#include <memory>

class CPasswordDlg;
class CSetting;
class CTALVEN77PCDoc;
class CTALVEN77PCView;
class QAction;
class QLabel;
class QTimer;
class QTreeWidget;

// The main window: menu bar, the standard toolbar, a three-pane status bar
// with the recording count and a clock, and the view. It keeps the password
// gate closed while the user is not authenticated, asks before the program
// closes and stores its placement ("Window"/"Main") when it goes.
class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    // authenticated: the application's flag (1 while the user may see the window).
    CMainFrame(CTALVEN77PCDoc& document, CSetting& setting, int& authenticated, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CTALVEN77PCView* view() const { return m_view; }
    QTreeWidget* folderTree() const;
    QAction* command(Command id) const;
    CPasswordDlg* passwordDialog() const { return m_passwordDlg.get(); }

    void ShowRecordingCount(int count);
    void ShowIdleText();
    void setOperationText(const QString& text);
    QString operationText() const;
    QString recordingCountText() const;
    QString clockText() const;

    // Writes the 44-byte placement record of the window.
    static void StorePlacement(QWidget* window);
    // Puts the window where the record says, when there is one; true when the
    // record says the window was maximized.
    static bool RestorePlacement(QWidget* window);

    // "終了": asks, then closes without asking again.
    void OnAppExit();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildMenusAndToolbar();
    void closePasswordGate();
    void tick();

    CTALVEN77PCDoc& m_document;
    CSetting& m_setting;
    int& m_authenticated;
    CTALVEN77PCView* m_view;
    QLabel* m_operation;
    QLabel* m_count;
    QLabel* m_clock;
    QTimer* m_clockTimer;
    std::unique_ptr<CPasswordDlg> m_passwordDlg;
    bool m_closeConfirmed = false;
};
