#include "toolkit/programkeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <map>

namespace tk {

namespace {

class ProgramKeys : public QObject {
  public:
    std::map<int, std::function<void()>> actions;

  protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() != QEvent::KeyPress && e->type() != QEvent::ShortcutOverride) return false;
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->modifiers() &
            (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return false;
        auto it = actions.find(k->key());
        if (it == actions.end()) return false;
        // The shortcut stage only learns that the key is taken; it acts on the press.
        if (e->type() == QEvent::ShortcutOverride) {
            e->accept();
            return true;
        }
        if (k->isAutoRepeat() || running_) return true;
        running_ = true;
        const auto action = it->second;  // the action may rebind keys
        struct Reset {
            bool& flag;
            ~Reset() { flag = false; }
        } reset{running_};
        action();
        return true;
    }

  private:
    bool running_ = false;
};

ProgramKeys* keys() {
    static ProgramKeys* filter = nullptr;
    if (filter == nullptr && QCoreApplication::instance() != nullptr) {
        filter = new ProgramKeys;
        filter->setParent(QCoreApplication::instance());
        QCoreApplication::instance()->installEventFilter(filter);
        QObject::connect(filter, &QObject::destroyed, [] { filter = nullptr; });
    }
    return filter;
}

}  // namespace

void setProgramKey(int key, std::function<void()> action) {
    ProgramKeys* k = keys();
    if (k == nullptr) return;
    if (action)
        k->actions[key] = std::move(action);
    else
        k->actions.erase(key);
}

}  // namespace tk
