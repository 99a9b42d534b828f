#include "app/TestConnection.h"

#include "core/ErrorTrap.h"
#include "core/MessageSeam.h"
#include "ftp/Session.h"

namespace {

// The statements of "Test Connection" as its error report numbers them.
namespace TestConnectionAt {
const QString location = ErrorTrap::locationOf("Form1", "PushButton3_Click");
// Statement 100 (the passive flag) is part of Session::connect.
constexpr int openInternet = 102;
constexpr int connect = 106;
constexpr int refused = 110;
constexpr int closeInternet = 112;
constexpr int connected = 114;
constexpr int noService = 116;
} // namespace TestConnectionAt

} // namespace

void TestConnection(Session& session, const ConnectionSettings& settings) {
    using namespace TestConnectionAt;
    ErrorTrap trap(location);
    bool haveInternet = false;
    trap.at(openInternet, [&] { haveInternet = session.openInternet(); });
    if (!haveInternet) {
        trap.at(noService,
                [] { MessageSeam::plain(QStringLiteral("Connection to service failed!")); });
        return;
    }
    // A connect that cannot even start (a port text that is no port) counts as
    // a refused one.
    bool connected = false;
    trap.at(connect, [&] { connected = session.connect(settings); });
    if (!connected) {
        trap.at(refused, [] { MessageSeam::plain(QStringLiteral("Could not connect.")); });
        trap.at(closeInternet, [&] { session.closeInternet(); });
        return;
    }
    trap.at(TestConnectionAt::connected,
            [] { MessageSeam::plain(QStringLiteral("Connection OK.")); });
}
