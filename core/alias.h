// User-given names of sources, user modes, windows and crops, read from
// "/data/configs/alias.json".
#pragma once

#include <string>

#include <boost/property_tree/ptree.hpp>

struct ALIAS_PARA {
    int id = 0;
    std::string valid;
    std::string name;
};

// 1 when the item exists, is not "off" and has a name (its first 64
// characters); 0 otherwise. A file
// that does not parse is deleted.
int get_json_alias_para(ALIAS_PARA* out, const std::string& category, int id);

// The alias file read once, for a page that looks up several names at a
// time; get answers as get_json_alias_para.
class AliasNames
{
  public:
    AliasNames();
    int get(ALIAS_PARA* out, const std::string& category, int id) const;

  private:
    boost::property_tree::ptree root_;
    bool read_ = false;
};
