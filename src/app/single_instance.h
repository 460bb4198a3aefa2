// One copy of the program per desktop: the first copy listens on a local
// socket named after the program's file name, the user and the display it
// shows on (another display is another desktop); a second copy finds it, asks it to come to the
// front and ends. A socket left behind by a crashed copy answers nobody, so it is removed and taken
// over.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace app {

class SingleInstance : public QObject {
    Q_OBJECT
  public:
    explicit SingleInstance(const QString& programName, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when another copy is running; that copy has been asked to show itself.
    bool anotherIsRunning();
    QString serverName() const { return name_; }

  signals:
    void showRequested();

  private:
    QString name_;
    QLocalServer* server_ = nullptr;
};

}  // namespace app
