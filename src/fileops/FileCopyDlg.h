#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

// The progress window of a copy, move or delete: an animation, a bar of files
// done, the progress text and the name of the file at hand, and "ｷｬﾝｾﾙ". It is
// modeless and stands apart from the main window; the worker that runs on the
// user-interface thread feeds it between files (while it pumps events) and
// looks at cancelRequested() there. Its owner destroys it when the work ends.
class CFileCopyDlg : public QDialog
{
    Q_OBJECT

public:
    enum Operation { Copy = 0, Move = 1, Delete = 2 };

    // operation: 0 copy, 1 move, 2 delete; any other value is shown as a copy.
    explicit CFileCopyDlg(int operation, QWidget* parent = nullptr);

    int operation() const { return m_operation; }
    // The bar runs from 0 to files; with no files it stays empty.
    void setRange(int files);
    void setProgress(int done, const QString& text, const QString& fileName);
    // The bytes written of the file at hand, on a thin bar under the files' bar,
    // so that a long file shows it is moving.
    void setFileProgress(int64_t done, int64_t total);
    // Set by "ｷｬﾝｾﾙ", Escape or the window's close button; never cleared.
    bool cancelRequested() const { return m_cancelRequested; }

    QPushButton* cancelButton() const { return m_cancelButton; }
    QProgressBar* progressBar() const { return m_progressBar; }
    QProgressBar* fileProgressBar() const { return m_fileBar; }
    QLabel* progressText() const { return m_progressText; }
    QLabel* fileNameText() const { return m_fileNameText; }
    QWidget* animation() const { return m_animation; }

    // Escape and the window's close button come here: they ask for the cancel
    // and leave the window open until its owner ends it.
    void reject() override;

private:
    void requestCancel();

    int m_operation;
    bool m_cancelRequested = false;
    QWidget* m_animation;
    QProgressBar* m_progressBar;
    QProgressBar* m_fileBar;
    QLabel* m_progressText;
    QLabel* m_fileNameText;
    QPushButton* m_cancelButton;
};
