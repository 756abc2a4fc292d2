#include "platform/net/NetworkState.h"

#include <QDir>
#include <QFile>

namespace {

class SystemNetworkState final : public NetworkState {
 public:
  bool Connected() const override {
    const QDir interfaces(QStringLiteral("/sys/class/net"));
    for (const QString& name : interfaces.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
      QFile state(interfaces.filePath(name + QStringLiteral("/operstate")));
      if (name != QLatin1String("lo") && state.open(QIODevice::ReadOnly) && state.readAll().trimmed() == "up")
        return true;
    }
    return false;
  }
};

}  // namespace

NetworkState& NetworkState::Default() {
  static auto* const system = new SystemNetworkState;  // never destroyed, like the clock
  return *system;
}
