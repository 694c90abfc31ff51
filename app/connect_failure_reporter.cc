#include "app/connect_failure_reporter.h"

#include <string>

#include "base/write_fully.h"
#include "capture/session_label.h"
#include "run/application_title.h"
#include "run/endpoint_text.h"

namespace portwick {

void ConnectFailureReporter::OnConnectFailed(const SessionConnectFailed& event) {
  const std::string line = std::string(kApplicationTitle) + ": #" +
                           SessionLabel(event.forward, event.session) + " cannot connect to " +
                           DestinationText(event.host, event.port) + ": " + event.status.reason() +
                           "\n";
  MutexLock lock(&mutex_);
  WriteFully(fd_, line.data(), line.size());
}

}  // namespace portwick
