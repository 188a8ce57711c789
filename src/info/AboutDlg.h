#pragma once

#include <QDialog>

class QTableWidget;

// "バージョン情報": product name, version, legal notice and the machine's environment.
class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    QTableWidget* table() const { return m_table; }

private:
    QTableWidget* m_table;
};
