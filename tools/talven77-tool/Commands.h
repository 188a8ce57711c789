#pragma once

#include <QStringList>

// Each command takes its arguments (without the command's name) and returns
// the process's exit status: 0 when everything went well.
int RunInspect(const QStringList& arguments);
int RunEdit(const QStringList& arguments);
int RunScan(const QStringList& arguments);
int RunSearch(const QStringList& arguments);
int RunMakeCard(const QStringList& arguments);
int RunDrives(const QStringList& arguments);
int RunPlay(const QStringList& arguments);
int RunSilences(const QStringList& arguments);
int RunExport(const QStringList& arguments);
