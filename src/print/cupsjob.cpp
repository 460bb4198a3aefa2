#include "print/cupsjob.h"

#include <cups/cups.h>

namespace print {

namespace {

// How long a printer may take to answer the connection.
constexpr int kConnectMs = 30000;

// libcups asks for a password on the terminal when a printer wants one; a
// desktop program has no terminal, and the job fails instead.
const char* noPassword(const char*, http_t*, const char*, const char*, void*) {
    return nullptr;
}

bool accepted(ipp_status_t status) {
    return status < IPP_STATUS_REDIRECTION_OTHER_SITE;
}

// Why libcups' last call failed, in Spanish when the reason is a usual one;
// libcups' own words otherwise.
QString lastCupsError() {
    switch (cupsLastError()) {
        case IPP_STATUS_ERROR_SERVICE_UNAVAILABLE:
            return QStringLiteral("no contesta");
        case IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED:
            return QStringLiteral("no admite documentos PDF");
        case IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES:
            return QStringLiteral("no admite el trabajo tal como va (un PDF en papel A4)");
        case IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS:
            return QStringLiteral("no admite trabajos ahora");
        case IPP_STATUS_ERROR_BUSY:
            return QStringLiteral("está ocupada");
        case IPP_STATUS_ERROR_FORBIDDEN:
        case IPP_STATUS_ERROR_NOT_AUTHENTICATED:
        case IPP_STATUS_ERROR_NOT_AUTHORIZED:
        case IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED:
            return QStringLiteral("no admite trabajos de este usuario");
        case IPP_STATUS_ERROR_NOT_FOUND:
            return QStringLiteral("no existe");
        case IPP_STATUS_ERROR_TIMEOUT:
            return QStringLiteral("ha dejado de contestar");
        case IPP_STATUS_ERROR_DEVICE:
            return QStringLiteral("tiene una avería");
        default:
            break;
    }
    const char* text = cupsLastErrorString();
    return text && *text ? QString::fromUtf8(text) : QStringLiteral("error desconocido");
}

}  // namespace

struct CupsJob::Impl {
    QString printer;
    bool direct = false;  // to the printer's own address
    cups_dest_t* dest = nullptr;
    http_t* http = nullptr;  // the connection the document goes through
    cups_dinfo_t* info = nullptr;
    int job = 0;
    bool sending = false;  // the document is started and not ended
    bool done = false;     // the job is over: taken or cancelled
    bool failed = false;

    ~Impl() {
        if (info) cupsFreeDestInfo(info);
        if (http) httpClose(http);
        if (dest) cupsFreeDests(1, dest);
    }
    http_t* connect() const {
        char resource[1024];
        return cupsConnectDest(dest, direct ? CUPS_DEST_FLAGS_DEVICE : CUPS_DEST_FLAGS_NONE,
                               kConnectMs, nullptr, resource, sizeof resource, nullptr, nullptr);
    }
};

CupsJob::CupsJob() : d_(std::make_unique<Impl>()) {}

CupsJob::~CupsJob() {
    cancel();
}

bool CupsJob::isAddress(const QString& printer) {
    return printer.startsWith(QLatin1String("ipp://"), Qt::CaseInsensitive) ||
           printer.startsWith(QLatin1String("ipps://"), Qt::CaseInsensitive);
}

const QString& CupsJob::printer() const {
    return d_->printer;
}
int CupsJob::jobId() const {
    return d_->job;
}

bool CupsJob::fail(const QString& why) {
    d_->failed = true;
    setErrorString(why);
    return false;
}

bool CupsJob::begin(const QString& printer, const QString& title) {
    Impl& d = *d_;
    if (d.dest) return fail(QStringLiteral("El trabajo de impresión ya estaba abierto"));
    cupsSetPasswordCB2(noPassword, nullptr);
    d.printer = printer;
    d.direct = isAddress(printer);
    const QByteArray name = printer.toUtf8();
    if (d.direct)
        d.dest = cupsGetDestWithURI(nullptr, name.constData());
    else
        d.dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, printer.isEmpty() ? nullptr : name.constData(),
                                  nullptr);
    if (!d.dest) {
        return fail(printer.isEmpty()
                        ? QStringLiteral("No hay ninguna impresora instalada")
                        : QStringLiteral("La impresora %1 no está disponible.").arg(printer));
    }
    if (printer.isEmpty()) d.printer = QString::fromUtf8(d.dest->name);
    d.http = d.connect();
    if (!d.http) {
        return fail(QStringLiteral("No se puede conectar con la impresora %1: %2")
                        .arg(d.printer, lastCupsError()));
    }
    d.info = cupsCopyDestInfo(d.http, d.dest);
    if (!d.info) {
        return fail(QStringLiteral("No se puede conectar con la impresora %1: %2")
                        .arg(d.printer, lastCupsError()));
    }
    // The pages are A4, standing or lying as the document has them.
    cups_option_t* options = nullptr;
    const int count = cupsAddOption("media", CUPS_MEDIA_A4, 0, &options);
    const QByteArray jobTitle = title.toUtf8();
    const ipp_status_t created =
        cupsCreateDestJob(d.http, d.dest, d.info, &d.job, jobTitle.constData(), count, options);
    cupsFreeOptions(count, options);
    if (!accepted(created) || d.job <= 0) {
        d.job = 0;
        return fail(QStringLiteral("La impresora %1 no ha aceptado el trabajo: %2")
                        .arg(d.printer, lastCupsError()));
    }
    if (cupsStartDestDocument(d.http, d.dest, d.info, d.job, jobTitle.constData(), CUPS_FORMAT_PDF,
                              0, nullptr, 1) != HTTP_STATUS_CONTINUE) {
        const QString why = lastCupsError();
        cancel();
        return fail(
            QStringLiteral("La impresora %1 no ha aceptado el trabajo: %2").arg(d.printer, why));
    }
    d.sending = true;
    return open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 CupsJob::readData(char*, qint64) {
    return -1;
}

qint64 CupsJob::writeData(const char* data, qint64 size) {
    Impl& d = *d_;
    if (!d.sending || d.failed) return -1;
    // Each write goes out whole before the next is taken: the printer has
    // every page as it ends, and nothing waits here.
    if (cupsWriteRequestData(d.http, data, static_cast<size_t>(size)) != HTTP_STATUS_CONTINUE ||
        httpFlushWrite(d.http) < 0) {
        fail(QStringLiteral("La impresora %1 no ha aceptado el trabajo: %2")
                 .arg(d.printer, lastCupsError()));
        return -1;
    }
    return size;
}

bool CupsJob::finish() {
    Impl& d = *d_;
    if (!d.sending) {
        return d.failed ? false
                        : fail(QStringLiteral("No hay ningún trabajo de impresión abierto"));
    }
    if (d.failed) {
        cancel();
        return false;
    }
    d.sending = false;
    const ipp_status_t status = cupsFinishDestDocument(d.http, d.dest, d.info);
    close();
    if (!accepted(status)) {
        const QString why = lastCupsError();
        cancel();  // whatever the printer kept of it goes
        return fail(
            QStringLiteral("La impresora %1 no ha aceptado el trabajo: %2").arg(d.printer, why));
    }
    d.done = true;
    return true;
}

void CupsJob::cancel() {
    Impl& d = *d_;
    if (d.job <= 0 || d.done) return;
    // The job is cancelled on a connection of its own while the document's
    // is still open, and only then is the document cut short: a printer that
    // saw its connection close first could take what it had for the whole
    // document and start printing it.
    if (http_t* http = d.connect()) {
        cupsCancelDestJob(http, d.dest, d.job);
        httpClose(http);
    }
    if (d.http) {
        httpClose(d.http);
        d.http = nullptr;
    }
    d.done = true;
    d.sending = false;
    if (isOpen()) close();
}

}  // namespace print
