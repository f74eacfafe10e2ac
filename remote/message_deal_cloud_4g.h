// The JSON commands of the cloud service, the same over the cloud client and
// inside the 4G module's group 0xC4. A body is one JSON object whose "name"
// selects the command; a body that carries "result" is an answer and gets
// none back. Numbers go out as JSON numbers, texts as JSON strings, and a
// key means the same in every body:
//   "name"        the command (text)
//   "result"      0 done, 1 unknown command (number)
//   "deviceid"    the box's 32-character device id (text)
//   "cloudid"     the device id the cloud gave (cloud settings file, text)
//   "identity"    the 12-byte identity of the frame headers, 24 hex digits
//   "barcode", "ip", "mac", "serverip", "userid", "controller"  (texts)
//   "serverport"  the cloud server's port (number)
//
// Commands served:      answer (besides "name" and "result"):
//   "heartbeat"          -
//   "getinfo"            "deviceid", "barcode", "ip", "mac"
//   "getproperty"        "cloudid", "identity", "serverip", "serverport"
//   "reboot"             - (the box restarts 3 s later)
// Bodies the box sends of its own: "login" ("cloudid", "identity",
// "userid", "controller"), "heartbeat", "property" (as getproperty).
#pragma once

#include <cstddef>
#include <string>

class message_deal_cloud_4g
{
  public:
    enum Outcome { ANSWER, NO_ANSWER, BAD_BODY };
    // Handles one body; the answer text goes to answer when the outcome is
    // ANSWER.
    static Outcome deal(const char* body, size_t length, std::string& answer);

    // Bodies the box sends of its own.
    static std::string login();
    static std::string heartbeat();
    static std::string property();
};
