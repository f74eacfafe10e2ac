// The JSON commands of the cloud service, the same over the cloud client and
// inside the 4G module's group 0xC4. A body is one JSON object whose "name"
// selects the command; a body that carries "result" is an answer and gets
// none back.
//
// Commands served:      answer (besides "name" and "result" 0):
//   "heartbeat"          -
//   "getinfo"            "deviceid", "barcode", "ip", "mac"
//   "getproperty"        "deviceid", "identity" (24 hex digits), "serverip",
//                        "serverport"
//   "reboot"             - (the box restarts 3 s later)
// Any other name answers "result" 1.
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
