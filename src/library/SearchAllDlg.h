#pragma once

#include "RecordingIndex.h"

#include <QDialog>
#include <functional>
#include <memory>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QTimer;
class QTreeWidget;

// "すべてのフォルダを検索": finds recordings in every place the window shows
// by memo text, file name, date range and state, from the index; the list of
// results follows the fields as the user types. Choosing a result hands its
// folder and path to the window.
class SearchAllDlg : public QDialog
{
    Q_OBJECT

public:
    // places: what to cover, asked each time the dialog is shown.
    using PlacesSource = std::function<QList<SearchPlace>()>;
    SearchAllDlg(PlacesSource places, QWidget* parent = nullptr);
    ~SearchAllDlg() override;

    // Brings the index up to date for the places and searches again.
    void refresh();

    QLineEdit* memoEdit() const { return m_memo; }
    QLineEdit* nameEdit() const { return m_name; }
    QCheckBox* fromBox() const { return m_fromBox; }
    QDateEdit* fromEdit() const { return m_from; }
    QCheckBox* toBox() const { return m_toBox; }
    QDateEdit* toEdit() const { return m_to; }
    QCheckBox* protectedBox() const { return m_protected; }
    QCheckBox* unplayedBox() const { return m_unplayed; }
    QCheckBox* untransferredBox() const { return m_untransferred; }
    QTreeWidget* results() const { return m_results; }
    // Runs a pending search at once (the fields wait a moment for more typing).
    void searchNow();

Q_SIGNALS:
    void recordingChosen(const QString& folder, const QString& path);

protected:
    void showEvent(QShowEvent* event) override;

private:
    SearchQuery query() const;
    RecordingIndex& index();
    QList<SearchHit> searchFreshly();
    void choose();
    void fitColumns();

    PlacesSource m_places;
    QList<SearchPlace> m_covered;
    QStringList m_unreadOnOpening; // what the reading of the places could not read
    QStringList m_unread;          // what the last search could not read, so may miss
    std::unique_ptr<RecordingIndex> m_ownIndex;
    QLineEdit* m_memo;
    QLineEdit* m_name;
    QCheckBox* m_fromBox;
    QDateEdit* m_from;
    QCheckBox* m_toBox;
    QDateEdit* m_to;
    QCheckBox* m_protected;
    QCheckBox* m_unplayed;
    QCheckBox* m_untransferred;
    QTreeWidget* m_results;
    QLabel* m_count;
    QTimer* m_typing;
};
