// A print job sent to a printer as it is written: what a printed document
// becomes when it goes to a printer.
//
// The job goes through libcups, to a printer of the system's print service
// (by its name, or the default one when no name is given) or straight to a
// printer's own address (a name that is an ipp:// or ipps:// address, for
// printers the system has not installed). begin() opens the job, titled as
// the document, and starts its one document, a PDF; every write goes out to
// the printer as it comes, in order and at once, so that the printer has a
// page as soon as the page ends and nothing of the document piles up here;
// finish() ends the document and says whether the printer took it. A job
// begun and never finished is cancelled, on the printer too.
//
// The device is written only, in order (it cannot seek); a write that fails
// (the printer went away, or refused the document) fails every later one,
// and errorString() says why, in Spanish.
//
// Typical use:
//   print::CupsJob job;
//   if (!job.begin(QStringLiteral("ipp://localhost:8631/ipp/print"), "Informe")) ...;
//   print::PdfWriter pdf(job, "Informe", QSizeF(595, 842), 72.0 / 300);
//   ... pages ...
//   if (!pdf.finish() || !job.finish()) ... job.errorString() ...
#pragma once

#include <QIODevice>
#include <QString>
#include <memory>

namespace print {

class CupsJob : public QIODevice {
  public:
    CupsJob();
    ~CupsJob() override;
    CupsJob(const CupsJob&) = delete;
    CupsJob& operator=(const CupsJob&) = delete;

    // Whether a printer's name is a printer's address (ipp:// or ipps://).
    static bool isAddress(const QString& printer);

    // Opens a job titled `title` on `printer` and starts its document; false
    // (errorString() says why) when the printer cannot be had or refuses it.
    bool begin(const QString& printer, const QString& title);
    // Ends the document: false when the printer did not take it whole.
    bool finish();
    // Gives the job up: the printer throws away what it has. Nothing when no
    // job was opened or it was finished.
    void cancel();

    // The printer's name as known (the default one's own name when none was
    // given) and the job's number on it (0 before begin()).
    const QString& printer() const;
    int jobId() const;

    bool isSequential() const override { return true; }

  protected:
    qint64 readData(char* data, qint64 size) override;
    qint64 writeData(const char* data, qint64 size) override;

  private:
    struct Impl;
    std::unique_ptr<Impl> d_;
    bool fail(const QString& why);
};

}  // namespace print
