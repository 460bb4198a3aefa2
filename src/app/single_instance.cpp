#include "app/single_instance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>

#include <unistd.h>

namespace app {

SingleInstance::SingleInstance(const QString& programName, QObject* parent) : QObject(parent) {
    QString base = programName;
    base.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    // The display without its screen number: the screens of one display
    // are one desktop.
    QString desk = qEnvironmentVariable("DISPLAY");
    if (desk.isEmpty()) desk = qEnvironmentVariable("WAYLAND_DISPLAY");
    static const QRegularExpression screen(QStringLiteral("(:\\d+)\\.\\d+$"));
    desk.replace(screen, QStringLiteral("\\1"));
    desk.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    name_ = QStringLiteral("%1-%2-%3").arg(base).arg(getuid()).arg(desk);
}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();
}

bool SingleInstance::anotherIsRunning() {
    {
        QLocalSocket probe;
        probe.connectToServer(name_);
        if (probe.waitForConnected(500)) {
            probe.write("show\n");
            probe.flush();
            probe.waitForBytesWritten(500);
            probe.disconnectFromServer();
            return true;
        }
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) {
        // Nobody answered, so whatever holds the name is a leftover.
        QLocalServer::removeServer(name_);
        server_->listen(name_);
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = server_->nextPendingConnection()) {
            connect(s, &QLocalSocket::readyRead, this, [this, s] {
                if (s->readAll().startsWith("show")) emit showRequested();
            });
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        }
    });
    return false;
}

}  // namespace app
