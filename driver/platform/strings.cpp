#include "platform/strings.h"

#include <cstring>

namespace q4 {

namespace {

struct StringEntry {
  unsigned id;
  const char* text;
};

constexpr StringEntry kStrings[] = {
    {kStrDriverName, "Q4ODBC32.DLL"},
    {kStrDriverVersion, "2.0.37"},
    {kStrDbmsVersion, "7.1.0"},
    {kStrDriverOdbcVersion, "02.50"},
    {kStrFieldSeparator, ","},
    {kStrLogonCommand, "\x0E"},
    {kStrParameterErrorTitle, " PARAMETER ERROR"},
    {kStrNeedDsnAndHost, "You must input a Data Source Name and Host."},
    {kStrNetworkErrorTitle, " NETWORK SETUP ERROR "},
    {kStrResolveFailed1, " The IP address of the server can not be resolved. \n"},
    {kStrResolveFailed2,
     " You need to set up the hosts file or the Domain Name Server on you system. \n"},
    {kStrResolveFailed3,
     " The installation can not continue until your system is set up correctly."},
    {kStrYes, "YES"},
    // The help document that the connect dialog's Help button opens, looked up
    // beside the calling program.
    {kStrHelpDocument, "q4odbc-help.html"},
    {kStrConfirmUserTemplate, "CONFDLGU"},
    {kStrConfirmAccountTemplate, "CONFDLGA"},
    {kStrNeedHost, " You have to input the host name."},
    {kStrNeedUser, " A connection can not be made without a User Name."},
    {kStrNeedAccount, " A connection can not be made without an Account."},
};

}  // namespace

const char* find_string(unsigned id) {
  for (const StringEntry& entry : kStrings) {
    if (entry.id == id) return entry.text;
  }
  return nullptr;
}

int load_string(unsigned id, char* buffer, size_t size) {
  const char* text = find_string(id);
  if (text == nullptr || size == 0) return 0;
  size_t length = strlen(text);
  if (length > size - 1) length = size - 1;
  memcpy(buffer, text, length);
  buffer[length] = '\0';
  return static_cast<int>(length);
}

}  // namespace q4
