#pragma once

#include "fileops/FileOperations.h"

#include <QList>
#include <QPair>
#include <QStringList>
#include <functional>

// The window side, scripted: overwrite answers, a cancel at a chosen file, and what was shown.
struct ScriptedHost : FileOperationsHost
{
    struct Answer
    {
        int choice;
        bool applyToAll;
        bool ok = true;
    };
    QList<Answer> answers;
    QList<int> preselected;    // the choice each question came with
    QStringList progressTexts;
    QStringList rows;          // rows added to the shown list
    QStringList replaced;      // rows that show an overwritten file's new record
    int refills = 0;
    int cancelAfter = -1;      // the cancel button is pressed once this many files are done
    std::function<void(int done)> onProgress;
    bool cancelled = false;

    bool askOverwrite(const QString&, const QString&, int& choice, bool& applyToAll) override
    {
        preselected.append(choice);
        if (answers.isEmpty())
            return false;
        const Answer answer = answers.takeFirst();
        choice = answer.choice;
        applyToAll = answer.applyToAll;
        return answer.ok;
    }
    void showProgress(int, int) override {}
    void setProgress(int done, const QString& text, const QString&) override
    {
        progressTexts.append(text);
        if (done == cancelAfter)
            cancelled = true;
        if (onProgress)
            onProgress(done);
    }
    bool cancelRequested() const override { return cancelled; }
    QList<QPair<int64_t, int64_t>> fileProgress;
    void setFileProgress(int64_t done, int64_t total) override { fileProgress.append({done, total}); }
    void statusText(const QString&) override {}
    void processEvents() override {}
    void addRow(const tagFileList& record) override { rows.append(record.szFileName); }
    void replaceRow(const tagFileList& record) override { replaced.append(record.szFileName); }
    void refillList() override { ++refills; }
    QStringList marked;        // paths of sources whose rows show them transferred
    void markTransferred(const tagFileList& record) override { marked.append(record.szFilePath); }
};
