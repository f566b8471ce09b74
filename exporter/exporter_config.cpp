#include "exporter/exporter_config.h"

#include <yaml-cpp/yaml.h>

#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

namespace pw::exporter {

namespace {

constexpr std::size_t kMaxFileBytes = 1 << 20;

struct Problem {
    std::string text;
};

// A map's keys, each once: YAML readers differ on which of two equal keys counts, and this one would take
// the first without a word.
std::set<std::string> Keys(const YAML::Node& map, const std::string& where) {
    std::set<std::string> seen;
    for (const auto& kv : map)
        if (!seen.insert(kv.first.as<std::string>()).second)
            throw Problem{where + ": " + kv.first.as<std::string>() + " is given twice"};
    return seen;
}

// The keys a map may hold; any other is an error naming it.
void OnlyKeys(const YAML::Node& map, const std::string& where, const std::set<std::string>& keys) {
    if (!map.IsMap()) throw Problem{where + " must be a map"};
    for (const std::string& key : Keys(map, where))
        if (!keys.count(key)) throw Problem{"unknown key " + where + "." + key};
}

std::string Scalar(const YAML::Node& n, const std::string& where) {
    if (!n.IsScalar()) throw Problem{where + " must be a single value"};
    return n.as<std::string>();
}

double Duration(const YAML::Node& n, const std::string& where) {
    double s = 0;
    if (!ParseDuration(Scalar(n, where), s)) throw Problem{where + ": not a duration such as 5s or 500ms"};
    return s;
}

bool Bool(const YAML::Node& n, const std::string& where) {
    const std::string v = Scalar(n, where);
    if (v == "true") return true;
    if (v == "false") return false;
    throw Problem{where + " must be true or false"};
}

int Integer(const YAML::Node& n, const std::string& where, int least, int most) {
    const std::string v = Scalar(n, where);
    if (v.empty() || v.size() > 9 || v.find_first_not_of("0123456789") != std::string::npos)
        throw Problem{where + " must be a whole number"};
    const int i = std::stoi(v);
    if (i < least || i > most)
        throw Problem{where + " must be " + std::to_string(least) + " to " + std::to_string(most)};
    return i;
}

Module ReadModule(const YAML::Node& n, const std::string& where) {
    Module m;
    if (n.IsNull()) return m;
    OnlyKeys(n, where, {"timeout", "baud", "data_bits", "parity", "stop_bits", "identity"});
    if (n["timeout"]) {
        m.timeoutSeconds = Duration(n["timeout"], where + ".timeout");
        if (m.timeoutSeconds > 120) throw Problem{where + ".timeout: at most 120s"};
    }
    if (n["baud"]) {
        const std::string b = Scalar(n["baud"], where + ".baud");
        static const std::set<std::string> rates = {"9600", "19200", "38400", "57600", "115200"};
        if (b == "auto")
            m.line.autoBaud = true;
        else if (rates.count(b))
            m.line.baud = std::stoi(b);
        else
            throw Problem{where + ".baud must be auto, 9600, 19200, 38400, 57600 or 115200"};
    }
    if (n["data_bits"]) {
        m.line.dataBits = Integer(n["data_bits"], where + ".data_bits", 7, 8);
    }
    if (n["parity"]) {
        const std::string p = Scalar(n["parity"], where + ".parity");
        if (p != "none" && p != "odd" && p != "even")
            throw Problem{where + ".parity must be none, odd or even"};
        m.line.parity = p == "odd" ? 1 : p == "even" ? 2 : 0;
    }
    if (n["stop_bits"]) {
        const std::string s = Scalar(n["stop_bits"], where + ".stop_bits");
        if (s != "1" && s != "1.5" && s != "2") throw Problem{where + ".stop_bits must be 1, 1.5 or 2"};
        m.line.stopBits = s == "1.5" ? 1 : s == "2" ? 2 : 0;
    }
    if (n["identity"]) m.identity = Bool(n["identity"], where + ".identity");
    return m;
}

YAML::Node Load(const std::string& text) {
    try {
        return YAML::Load(text);
    } catch (const YAML::Exception& e) {
        throw Problem{"not YAML: " + e.msg + " (line " + std::to_string(e.mark.line + 1) + ")"};
    }
}

// Runs `read`; false with `error` set when it found something wrong.
template <class Read> bool Reading(std::string& error, Read read) {
    try {
        read();
    } catch (const Problem& p) {
        error = p.text;
        return false;
    } catch (const YAML::Exception& e) {
        error = e.msg;
        return false;
    }
    return true;
}

} // namespace

bool ParseDuration(const std::string& text, double& seconds) {
    std::size_t digits = 0;
    while (digits < text.size() &&
           (std::isdigit(static_cast<unsigned char>(text[digits])) || text[digits] == '.'))
        ++digits;
    if (digits == 0 || digits > 12 || std::count(text.begin(), text.begin() + digits, '.') > 1 ||
        text[0] == '.')
        return false;
    const double value = std::stod(text.substr(0, digits));
    const std::string unit = text.substr(digits);
    const double scale = unit == "" || unit == "s" ? 1 : unit == "ms" ? 0.001 : unit == "m" ? 60 : -1;
    if (scale < 0 || !(value > 0) || !std::isfinite(value)) return false;
    seconds = value * scale;
    return true;
}

bool ReadTextFile(const std::string& path, std::string& text, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    // Read no further than the limit: a path such as /dev/zero never ends.
    text.assign(kMaxFileBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxFileBytes) {
        error = path + " is larger than 1 MiB";
        return false;
    }
    return true;
}

bool ParseExporterConfig(const std::string& text, ExporterConfig& config, std::string& error) {
    config = ExporterConfig{};
    config.modules["default"] = Module{};
    return Reading(error, [&] {
        const YAML::Node root = Load(text);
        if (root.IsNull()) return;
        OnlyKeys(root, "config", {"targets", "modules", "min_interval", "limits"});
        if (const YAML::Node targets = root["targets"]) {
            OnlyKeys(targets, "targets", {"allow"});
            const YAML::Node allow = targets["allow"];
            if (allow && !allow.IsNull()) {
                if (!allow.IsSequence()) throw Problem{"targets.allow must be a list"};
                for (const YAML::Node& item : allow) {
                    AllowEntry e;
                    std::string why;
                    const std::string entry = Scalar(item, "targets.allow");
                    if (!ParseAllowEntry(entry, e, why))
                        throw Problem{"targets.allow: " + entry + ": " + why};
                    config.allow.push_back(e);
                }
            }
        }
        if (const YAML::Node modules = root["modules"]) {
            if (!modules.IsMap()) throw Problem{"modules must be a map of names"};
            Keys(modules, "modules");
            for (const auto& kv : modules) {
                const std::string name = kv.first.as<std::string>();
                if (name.empty() || name.size() > 64 ||
                    name.find_first_not_of(
                        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-") !=
                        std::string::npos)
                    throw Problem{"module names are letters, digits, _ and -: " + name};
                config.modules[name] = ReadModule(kv.second, "modules." + name);
            }
        }
        if (root["min_interval"]) config.minIntervalSeconds = Duration(root["min_interval"], "min_interval");
        if (const YAML::Node limits = root["limits"]) {
            OnlyKeys(limits, "limits", {"concurrent_probes", "target_length"});
            if (limits["concurrent_probes"])
                config.maxConcurrentProbes =
                    Integer(limits["concurrent_probes"], "limits.concurrent_probes", 1, 1024);
            if (limits["target_length"])
                config.maxTargetLength = Integer(limits["target_length"], "limits.target_length", 16, 4096);
        }
    });
}

bool ParseWebConfig(const std::string& text, WebConfig& config, std::string& error) {
    config = WebConfig{};
    return Reading(error, [&] {
        const YAML::Node root = Load(text);
        if (root.IsNull()) return;
        OnlyKeys(root, "web config", {"tls_server_config", "basic_auth_users", "http_server_config"});
        if (const YAML::Node tls = root["tls_server_config"]) {
            OnlyKeys(tls, "tls_server_config",
                     {"cert_file", "key_file", "client_auth_type", "client_ca_file", "min_version",
                      "max_version"});
            config.tls = true;
            if (!tls["cert_file"] || !tls["key_file"])
                throw Problem{"tls_server_config needs cert_file and key_file"};
            config.certFile = Scalar(tls["cert_file"], "tls_server_config.cert_file");
            config.keyFile = Scalar(tls["key_file"], "tls_server_config.key_file");
            if (tls["client_ca_file"])
                config.clientCaFile = Scalar(tls["client_ca_file"], "tls_server_config.client_ca_file");
            if (tls["client_auth_type"]) {
                config.clientAuthType = Scalar(tls["client_auth_type"], "tls_server_config.client_auth_type");
                static const std::set<std::string> kinds = {"NoClientCert", "RequestClientCert",
                                                            "RequireAnyClientCert", "VerifyClientCertIfGiven",
                                                            "RequireAndVerifyClientCert"};
                if (!kinds.count(config.clientAuthType))
                    throw Problem{"tls_server_config.client_auth_type: unknown " + config.clientAuthType};
            }
            const bool verifies = config.clientAuthType == "VerifyClientCertIfGiven" ||
                                  config.clientAuthType == "RequireAndVerifyClientCert";
            if (verifies && config.clientCaFile.empty())
                throw Problem{"tls_server_config: " + config.clientAuthType + " needs client_ca_file"};
            static const std::set<std::string> versions = {"TLS10", "TLS11", "TLS12", "TLS13"};
            if (tls["min_version"])
                config.minVersion = Scalar(tls["min_version"], "tls_server_config.min_version");
            if (tls["max_version"])
                config.maxVersion = Scalar(tls["max_version"], "tls_server_config.max_version");
            if (!versions.count(config.minVersion) || !versions.count(config.maxVersion))
                throw Problem{"tls_server_config: versions are TLS10, TLS11, TLS12 or TLS13"};
            if (config.minVersion > config.maxVersion)
                throw Problem{"tls_server_config: min_version is above max_version"};
        }
        if (const YAML::Node http = root["http_server_config"]) OnlyKeys(http, "http_server_config", {});
        if (const YAML::Node users = root["basic_auth_users"]) {
            if (!users.IsMap()) throw Problem{"basic_auth_users must map user names to bcrypt hashes"};
            Keys(users, "basic_auth_users");
            for (const auto& kv : users) {
                const std::string user = kv.first.as<std::string>();
                const std::string hash = Scalar(kv.second, "basic_auth_users." + user);
                if (user.empty() || user.find(':') != std::string::npos)
                    throw Problem{"basic_auth_users: a user name is not empty and has no colon"};
                if (hash.size() != 60 || hash[0] != '$' || hash[1] != '2' ||
                    (hash[2] != 'a' && hash[2] != 'b' && hash[2] != 'y') || hash[3] != '$')
                    throw Problem{"basic_auth_users." + user + ": not a bcrypt hash ($2y$...)"};
                config.users[user] = hash;
            }
        }
    });
}

} // namespace pw::exporter
