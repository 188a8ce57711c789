#pragma once

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QPushButton;
class QRadioButton;

// "検索": the search text (an editable, sorted drop-down list with the texts
// searched before in this run), file name or memo, exact match or not.
class CFindDlg : public QDialog
{
    Q_OBJECT

public:
    enum Result { Cancel = 0, Previous = 1, Next = 2 };

    explicit CFindDlg(QWidget* parent = nullptr);

    // Fills the controls for a new run (history, text selected, options).
    void prepare(const QString& text, int target, bool exact);
    // Exactly what the edit field holds: the box never completes a text.
    QString text() const;
    int target() const;
    bool exact() const;
    const QStringList& history() const { return m_history; }

    QComboBox* textBox() const { return m_text; }
    QPushButton* previousButton() const { return m_previous; }
    QPushButton* nextButton() const { return m_next; }
    QRadioButton* fileNameButton() const { return m_fileName; }
    QRadioButton* memoButton() const { return m_memo; }
    QCheckBox* exactBox() const { return m_exact; }

    void reject() override;

private:
    void finish(Result result);
    void updateButtons();

    QComboBox* m_text;
    QPushButton* m_previous;
    QPushButton* m_next;
    QRadioButton* m_fileName;
    QRadioButton* m_memo;
    QCheckBox* m_exact;
    QStringList m_history;
};
