// The service baseline: registers with the dispatcher, reports running, then
// stopped, and ends; what every service does at the least.
#include <windows.h>

namespace {
SERVICE_STATUS_HANDLE handle;
void WINAPI control(DWORD) {}
void WINAPI serviceMain(DWORD, LPSTR* arguments) {
  handle = RegisterServiceCtrlHandlerA(arguments[0], control);
  SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, 0, 0, 0, 0, 0};
  SetServiceStatus(handle, &status);
  status.dwCurrentState = SERVICE_STOPPED;
  SetServiceStatus(handle, &status);
}
}  // namespace

int main() {
  char name[] = "";
  SERVICE_TABLE_ENTRYA table[] = {{name, serviceMain}, {nullptr, nullptr}};
  StartServiceCtrlDispatcherA(table);
  return 0;
}
