// pinwright_exporter: reads receipt printers' real-time status when Prometheus scrapes /probe?target=PORT.
#include "cli/platform.h"
#include "exporter/exporter_config.h"
#include "exporter/prober.h"
#include "exporter/server.h"
#include "pinwright_version.h"

#include <CLI/CLI.hpp>
#include <httplib.h>

#include <atomic>
#include <memory>
#include <thread>

#if defined(CPPHTTPLIB_OPENSSL_SUPPORT)
#include <openssl/err.h>
#include <openssl/ssl.h>
#endif

namespace {

using namespace pw::exporter;

// Outside the 9100-9999 block of Prometheus's default port allocations, which is taken to its end.
constexpr const char* kDefaultListen = "127.0.0.1:10094";
// 128 + SIGPIPE, as StopRequests gives it; no such signal on Windows.
constexpr int kBrokenPipeExit = 141;

bool SplitListen(const std::string& text, std::string& host, int& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    host = text.substr(0, colon);
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(digits);
    if (port > 65535) return false;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty()) host = "0.0.0.0";
    return true;
}

#if defined(CPPHTTPLIB_OPENSSL_SUPPORT)
int TlsVersion(const std::string& v) {
    return v == "TLS10"   ? TLS1_VERSION
           : v == "TLS11" ? TLS1_1_VERSION
           : v == "TLS12" ? TLS1_2_VERSION
                          : TLS1_3_VERSION;
}

std::string SslError() {
    const unsigned long e = ERR_get_error();
    char text[256] = "unknown";
    if (e) ERR_error_string_n(e, text, sizeof text);
    return text;
}

// RequestClientCert, RequireAnyClientCert: a certificate is taken without being verified.
int AnyCertificate(int, X509_STORE_CTX*) {
    return 1;
}

std::unique_ptr<httplib::Server> TlsServer(const WebConfig& web, std::string& error) {
    auto server = std::make_unique<httplib::SSLServer>([&web, &error](SSL_CTX& ctx) {
        SSL_CTX_set_options(&ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
        if (!SSL_CTX_set_min_proto_version(&ctx, TlsVersion(web.minVersion)) ||
            !SSL_CTX_set_max_proto_version(&ctx, TlsVersion(web.maxVersion))) {
            error = "TLS versions: " + SslError();
            return false;
        }
        if (SSL_CTX_use_certificate_chain_file(&ctx, web.certFile.c_str()) != 1) {
            error = "cannot use the certificate " + web.certFile + ": " + SslError();
            return false;
        }
        if (SSL_CTX_use_PrivateKey_file(&ctx, web.keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(&ctx) != 1) {
            error = "cannot use the key " + web.keyFile + " with the certificate: " + SslError();
            return false;
        }
        int mode = SSL_VERIFY_NONE;
        if (web.clientAuthType == "RequestClientCert" || web.clientAuthType == "VerifyClientCertIfGiven")
            mode = SSL_VERIFY_PEER;
        if (web.clientAuthType == "RequireAnyClientCert" ||
            web.clientAuthType == "RequireAndVerifyClientCert")
            mode = SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT;
        if (!web.clientCaFile.empty()) {
            if (SSL_CTX_load_verify_locations(&ctx, web.clientCaFile.c_str(), nullptr) != 1) {
                error = "cannot read the client CA file " + web.clientCaFile + ": " + SslError();
                return false;
            }
            STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(web.clientCaFile.c_str());
            if (names) SSL_CTX_set_client_CA_list(&ctx, names);
        }
        const bool anyCert =
            web.clientAuthType == "RequestClientCert" || web.clientAuthType == "RequireAnyClientCert";
        SSL_CTX_set_verify(&ctx, mode, anyCert ? AnyCertificate : nullptr);
        return true;
    });
    if (!server->is_valid()) {
        if (error.empty()) error = "TLS could not be set up";
        return nullptr;
    }
    return server;
}
#endif

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"pinwright_exporter: reads ESC/POS receipt printers' real-time status (DLE EOT 1 to 4) when "
                 "Prometheus scrapes /probe?target=PORT; only targets the --config.file allows are probed."};
    std::string listen = kDefaultListen, webConfigFile, configFile, level = "info";
    app.add_option("--web.listen-address", listen,
                   std::string("address and port to listen on (default ") + kDefaultListen +
                       "; :PORT for every address)");
    app.add_option("--web.config.file", webConfigFile,
                   "TLS and basic authentication, as other exporters read it");
    app.add_option("--config.file", configFile,
                   "what may be probed (targets: allow:) and the modules; without it nothing may be probed");
    app.add_option("--log.level", level, "debug, info, warn or error (default info)")
        ->check(CLI::IsMember({"debug", "info", "warn", "error"}));
    app.set_version_flag("--version", std::string("pinwright_exporter ") + PINWRIGHT_VERSION);
    CLI11_PARSE(app, argc, argv);

    const LogLevel logLevel = level == "debug"   ? LogLevel::Debug
                              : level == "warn"  ? LogLevel::Warn
                              : level == "error" ? LogLevel::Error
                                                 : LogLevel::Info;
    Logger log(stderr, logLevel);
    auto fatal = [&log](const std::string& msg, const std::string& detail) {
        log.Log(LogLevel::Error, msg, {{"err", detail}});
        return 1;
    };

    ExporterConfig config;
    std::string text, error;
    if (!configFile.empty()) {
        if (!ReadTextFile(configFile, text, error)) return fatal("cannot read --config.file", error);
        if (!ParseExporterConfig(text, config, error))
            return fatal("bad --config.file", configFile + ": " + error);
    } else {
        ParseExporterConfig("", config, error);
    }
    WebConfig web;
    if (!webConfigFile.empty()) {
        if (!ReadTextFile(webConfigFile, text, error)) return fatal("cannot read --web.config.file", error);
        if (!ParseWebConfig(text, web, error))
            return fatal("bad --web.config.file", webConfigFile + ": " + error);
        if (!web.users.empty() && !BcryptAvailable())
            return fatal("bad --web.config.file", "basic_auth_users: this build cannot check bcrypt hashes");
    }
    std::string host;
    int port = 0;
    if (!SplitListen(listen, host, port))
        return fatal("bad --web.listen-address", listen + " is not HOST:PORT");

    // Signals go to one thread that waits for them, never into the middle of an exchange.
    pw::cli::StopRequests requests;

    std::unique_ptr<httplib::Server> server;
    if (web.tls) {
#if defined(CPPHTTPLIB_OPENSSL_SUPPORT)
        server = TlsServer(web, error);
        if (!server) return fatal("cannot set up TLS", error);
#else
        return fatal("bad --web.config.file",
                     "tls_server_config: this build has no TLS; put a TLS proxy in front");
#endif
    } else {
        server = std::make_unique<httplib::Server>();
    }

    Counters counters;
    PasswordCheck passwords(web.users);
    Prober prober(
        [&log](const std::string& target, const Module& module, Clock::time_point deadline) {
            return ExchangeWithPrinter(target, module, deadline, [&log, &target](const std::string& line) {
                log.Log(LogLevel::Debug, "exchange", {{"target", target}, {"detail", line}});
            });
        },
        [] { return Clock::now(); }, config.minIntervalSeconds, config.maxConcurrentProbes);
    SetUpRoutes(*server, {&config, &prober, &passwords, &log, &counters});
    const std::size_t threads = static_cast<std::size_t>(config.maxConcurrentProbes) + 8;
    server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };

    // Port 0: any free port; the log line says which.
    if (port == 0) {
        port = server->bind_to_any_port(host);
        if (port < 0) return fatal("cannot listen", listen);
        listen = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
    } else if (!server->bind_to_port(host, port)) {
        return fatal("cannot listen", listen);
    }
    log.Log(LogLevel::Info, "listening",
            {{"address", listen},
             {"tls", web.tls ? "true" : "false"},
             {"allowed_targets", std::to_string(config.allow.size())},
             {"version", PINWRIGHT_VERSION}});
    if (config.allow.empty())
        log.Log(LogLevel::Warn, "nothing may be probed",
                {{"hint", "list the printers under targets: allow: in the file given with --config.file"}});

    // A stop request ends the server; a scraper that went away (SIGPIPE) is no request.
    std::atomic<bool> serving{true}, stopped{false};
    std::thread stopper([&] {
        while (serving.load()) {
            const int code = requests.Wait(200);
            if (code == 0 || code == kBrokenPipeExit) continue;
            stopped.store(true);
            log.Log(LogLevel::Info, "stopping", {{"exit", std::to_string(code)}});
            server->stop();
            return;
        }
    });
    const bool served = server->listen_after_bind();
    serving.store(false);
    stopper.join();
    if (!served && !stopped.load()) return fatal("the listener failed", listen);
    log.Log(LogLevel::Info, "stopped", {});
    return 0;
}
