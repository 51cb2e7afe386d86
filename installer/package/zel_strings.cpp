// The string table of libzelinst (texts shown as progress and returned as
// errors), by identifier. The mail result texts live with the delivery.
#include "zel/zelinst.h"

namespace zel {

const char* ZelString(int id) {
  switch (id) {
    case 14:
      return "Halvorn has finished the auto client installation processing.  Attachments that "
             "contain the selected components have been sent to the clients.";
    case 15:
      return "There were no new install packages sent out during processing because there were no "
             "new users added to the system.";
    case 17: return "ZEL component missing.  Please reinstall.";
    case 58: return "Preparing client:  ";
    case 59: return "Existing client:  ";
    case 60: return "Sending client:  ";
    case 62: return "New clients";
    case 64:
      return "Halvorn has finished the auto client installation processing.  Attachments that "
             "contain the selected components have been stored locally.";
    case 66: return "Initializing";
    case 67: return "qvCoreStartup failed";
    case 68: return "MAPI Error";
    case 69: return "Unable to load MAPI library";
    case 70: return "Accessing Email file";
    case 71: return "Unable to open Email file";
    case 72: return "Initializing MAPI";
    case 73: return "Creating package number";
    case 74: return "Creating User";
    case 75: return "Filling temporary Database with all files";
    case 76: return "Creating the self extracting executable";
    case 79: return "Canceled by user request; Number of Emails alread sent: ";
    case 80: return "Option UseDomainAccount forces Halvorn account equal to Windows domain account";
    case 81:
      return "Option UseDomainAccount forces UserName in format <Domain>\\<User> or "
             "<User>@<DNS-Domain> for user";
    case 82: return "Retry direct install.";
    case 83: return "Version unknown - Upgrade the Client Software";
    case 84: return "Version on Client is old - Upgrade the Client Software";
    case 85: return "No UseDomainAccount option forces user name without domain specification for user";
    case 86: return "Unable to validate the domain user";
    default: return "";
  }
}

}  // namespace zel
