#pragma once

#include "TransferRecord.h"

#include <QDialog>

class QTableWidget;

// "転送履歴": the transfer record, newest first, one row an entry. The dialog
// keeps its size: the short columns are as wide as their texts, the source and
// the destination share the rest and are cut in the middle, so that the
// recorder's folder and the file name both stay in sight; their tooltips hold
// the whole paths.
class TransferRecordDlg : public QDialog
{
    Q_OBJECT

public:
    explicit TransferRecordDlg(const QList<TransferRecordEntry>& entries, QWidget* parent = nullptr);

    QTableWidget* table() const { return m_table; }

    enum Column { kTime, kRecorder, kSource, kDestination, kSize, kVerified, kMarked, kColumnCount };

private:
    QTableWidget* m_table;
};
