#include "remote/message_deal_cloud_4g.h"

#include <cstdio>

#include <boost/property_tree/ptree.hpp>

#include "core/global.h"
#include "core/utils.h"
#include "remote/memory_json_parser.h"

namespace pt = boost::property_tree;

namespace
{
// One flat JSON object, written in the order its members are added.
class json_object
{
  public:
    void text(const char* key, const std::string& value)
    {
        member(key);
        quoted(value);
    }
    void number(const char* key, long value)
    {
        member(key);
        out_ += std::to_string(value);
    }
    std::string str() const { return out_ + "}"; }

  private:
    void member(const char* key)
    {
        out_ += out_.size() > 1 ? "," : "";
        quoted(key);
        out_ += ':';
    }
    void quoted(const std::string& s)
    {
        out_ += '"';
        for (char c : s) {
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += c;
            } else if (u8(c) < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", unsigned(u8(c)));
                out_ += esc;
            } else {
                out_ += c;
            }
        }
        out_ += '"';
    }
    std::string out_ = "{";
};

std::string hex(const u8* data, int length)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < length; ++i) {
        s.push_back(digits[data[i] >> 4]);
        s.push_back(digits[data[i] & 15]);
    }
    return s;
}

std::string cloud_id(const Utils::CloudProperty& property)
{
    // Bytes 0..23 of the property block: zero-terminated text.
    char id[25] = {0};
    for (int i = 0; i < 24 && property[size_t(i)]; ++i)
        id[i] = char(property[size_t(i)]);
    return id;
}

void put_property(json_object& o)
{
    const Utils::CloudProperty property = Utils::cloud_property();
    o.text("cloudid", cloud_id(property));
    o.text("identity", hex(property.data() + 25, 12));
    const u8* ip = property.data() + 37;
    o.text("serverip", std::to_string(ip[0]) + "." + std::to_string(ip[1]) + "." + std::to_string(ip[2]) + "." +
                           std::to_string(ip[3]));
    o.number("serverport", property[41] | (property[42] << 8));
}

void cmd_heartbeat(json_object&) {}

void cmd_getinfo(json_object& a)
{
    a.text("deviceid", std::string(g_pid));
    const Utils::NetIdentity id = Utils::net_identity();
    a.text("barcode", id.barcode.toStdString());
    a.text("ip", id.ip.toStdString());
    a.text("mac", id.mac.trimmed().toStdString());
}

void cmd_reboot(json_object&)
{
    if (!g_app_reset_flag.load())
        Utils::request_restart();
}

struct Command {
    const char* name;
    void (*run)(json_object& answer);
};
const Command kCommands[] = {
    {"heartbeat", cmd_heartbeat},
    {"getinfo", cmd_getinfo},
    {"getproperty", put_property},
    {"reboot", cmd_reboot},
};
} // namespace

message_deal_cloud_4g::Outcome message_deal_cloud_4g::deal(const char* body, size_t length, std::string& answer)
{
    pt::ptree in;
    if (!memory_json_parser::parse(body, length, in))
        return BAD_BODY;
    if (in.count("result"))
        return NO_ANSWER;
    const std::string name = memory_json_parser::text(in, "name");
    json_object out;
    out.text("name", name);
    const Command* found = nullptr;
    for (const Command& c : kCommands)
        if (name == c.name)
            found = &c;
    out.number("result", found ? 0 : 1);
    if (found)
        found->run(out);
    answer = out.str();
    return ANSWER;
}

std::string message_deal_cloud_4g::login()
{
    json_object o;
    const Utils::CloudProperty property = Utils::cloud_property();
    o.text("name", "login");
    o.text("cloudid", cloud_id(property));
    o.text("identity", hex(property.data() + 25, 12));
    const Utils::CloudSettings cloud = Utils::cloud_settings();
    o.text("userid", cloud.user.toStdString());
    o.text("controller", cloud.controller.toStdString());
    return o.str();
}

std::string message_deal_cloud_4g::heartbeat()
{
    json_object o;
    o.text("name", "heartbeat");
    return o.str();
}

std::string message_deal_cloud_4g::property()
{
    json_object o;
    o.text("name", "property");
    put_property(o);
    return o.str();
}
