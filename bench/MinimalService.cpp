// The service baseline: registers with the dispatcher, reports start pending (as
// a service that follows the start protocol does while it starts), running, then
// stopped, and ends; what every service does at the least. With the argument
// "wait" it runs until a stop control and reports stopped at once: the control
// manager's own share of a stop.
#include <windows.h>

#include <cstring>

namespace {
SERVICE_STATUS_HANDLE handle;
SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0, 0, 0, 0};
bool waitForStop;
HANDLE stopped;
void WINAPI control(DWORD code) {
  if (code != SERVICE_CONTROL_STOP) return;
  status.dwCurrentState = SERVICE_STOPPED;
  SetServiceStatus(handle, &status);
  SetEvent(stopped);
}
void WINAPI serviceMain(DWORD, LPSTR* arguments) {
  handle = RegisterServiceCtrlHandlerA(arguments[0], control);
  status.dwCurrentState = SERVICE_START_PENDING;
  SetServiceStatus(handle, &status);
  status.dwCurrentState = SERVICE_RUNNING;
  SetServiceStatus(handle, &status);
  if (waitForStop) {
    WaitForSingleObject(stopped, INFINITE);
    return;
  }
  status.dwCurrentState = SERVICE_STOPPED;
  SetServiceStatus(handle, &status);
}
}  // namespace

int main(int argc, char** argv) {
  waitForStop = argc > 1 && std::strcmp(argv[1], "wait") == 0;
  stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  char name[] = "";
  SERVICE_TABLE_ENTRYA table[] = {{name, serviceMain}, {nullptr, nullptr}};
  StartServiceCtrlDispatcherA(table);
  return 0;
}
