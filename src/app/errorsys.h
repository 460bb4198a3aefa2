// The program's runtime-error handler and its log.
//
// ERRORSYS installs ERRORDIALOG as the handler of every runtime error. The
// handler settles three failures silently (division by zero yields 0; a
// sharing violation on open and a refused append lock set the network-error
// flag and yield false, for the caller's own message). Any other failure is
// written with a full report to the log "Error.Dbf" in the "Error" folder of
// the start directory, and shown in the error dialog with the call chain:
// the user retries the operation (when it can be retried), skips it (when a
// default result can stand in), or leaves the program, which then commits
// and closes every table and ends with exit code 1.
//
// Guards: a failure raised while the handler is at work ends the program at
// once (exit code 1) instead of recursing; a failure while the log record is
// written loses that record only; retry and skip go on with every table still
// open.
#pragma once

#include <QStringList>
#include <functional>
#include <string>

#include "xbase/error.h"
#include "xbase/value.h"

class QWidget;

namespace app {

void ERRORSYS();
bool errorSysInstalled();
xb::HandlerAnswer ERRORDIALOG(xb::Error& e);
std::string ERRORMESSAGE(const xb::Error& e);
// Makes sure the log's folder, table and index exist and opens the table
// shared under the alias Error with its index. False when it cannot.
bool ABREERROR();
void closeErrorLog();
void _SHOWERROR(QWidget* owner = nullptr);
void IMPERROR(QWidget* browser, const std::string& text);
std::string CGETINFO(const xb::Value& v);
void _FINAL();

// The folder of the log (created when missing; the start directory when it
// cannot be created).
std::string errorLogDir();

// The report of an error, as the handler writes it (Windows-1252 text, lines
// ending in CR LF). `shortReport` gets the part the dialog prints and
// `chain` the call-chain lines of the dialog's list.
std::string errorReport(const xb::Error& e, std::string* shortReport = nullptr,
                        QStringList* chain = nullptr);
// Writes one log record; false when it could not (the record is lost, the
// caller goes on).
bool writeErrorLog(const std::string& message, const std::string& report);

// How the program ends from the handler: _FINAL, then exit(code) without
// running the event loop again. Tests in the same process replace it.
void setProgramExit(std::function<void(int)> exitFn);

void registerErrorFunctions();

}  // namespace app
