#include "remote/message_deal_cloud_4g.h"

#include <boost/property_tree/ptree.hpp>

#include "core/global.h"
#include "remote/memory_json_parser.h"

namespace pt = boost::property_tree;

namespace
{
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

std::string device_id()
{
    // Bytes 0..23 of the property block: zero-terminated text.
    char id[25] = {0};
    for (int i = 0; i < 24 && g_4G_property[i]; ++i)
        id[i] = char(g_4G_property[i]);
    return id;
}

void put_property(pt::ptree& t)
{
    t.put("deviceid", device_id());
    t.put("identity", hex(g_4G_property + 25, 12));
    const u8* ip = g_4G_property + 37;
    t.put("serverip", std::to_string(ip[0]) + "." + std::to_string(ip[1]) + "." + std::to_string(ip[2]) + "." +
                          std::to_string(ip[3]));
    t.put("serverport", g_4G_property[41] | (g_4G_property[42] << 8));
}

void cmd_heartbeat(pt::ptree&) {}

void cmd_getinfo(pt::ptree& a)
{
    a.put("deviceid", std::string(g_pid));
    a.put("barcode", g_str_barcode.toStdString());
    a.put("ip", g_str_ip.toStdString());
    a.put("mac", g_str_mac.trimmed().toStdString());
}

void cmd_getproperty(pt::ptree& a)
{
    put_property(a);
}

void cmd_reboot(pt::ptree&)
{
    if (!g_app_reset_flag.load()) {
        G_reboot_tickTicks = G_timeTicks.load();
        g_app_reset_flag = 1;
    }
}

struct Command {
    const char* name;
    void (*run)(pt::ptree& answer);
};
const Command kCommands[] = {
    {"heartbeat", cmd_heartbeat},
    {"getinfo", cmd_getinfo},
    {"getproperty", cmd_getproperty},
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
    pt::ptree out;
    out.put("name", name);
    out.put("result", 1);
    for (const Command& c : kCommands) {
        if (name == c.name) {
            out.put("result", 0);
            c.run(out);
            break;
        }
    }
    answer = memory_json_parser::write(out);
    return ANSWER;
}

std::string message_deal_cloud_4g::login()
{
    pt::ptree t;
    t.put("name", "login");
    t.put("deviceid", device_id());
    t.put("identity", hex(g_4G_property + 25, 12));
    t.put("userid", g_Nubo_clouduserid.toStdString());
    t.put("controller", g_Nubo_controllername.toStdString());
    return memory_json_parser::write(t);
}

std::string message_deal_cloud_4g::heartbeat()
{
    pt::ptree t;
    t.put("name", "heartbeat");
    return memory_json_parser::write(t);
}

std::string message_deal_cloud_4g::property()
{
    pt::ptree t;
    t.put("name", "property");
    put_property(t);
    return memory_json_parser::write(t);
}
