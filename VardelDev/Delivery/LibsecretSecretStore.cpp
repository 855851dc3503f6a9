#include "LibsecretSecretStore.h"

#include "AppId.h"
#include "AppInfo.h"
#include "Error.h"
#include "FileSecretStore.h"
#include "Log.h"
#include "Paths.h"

#include <libsecret/secret.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vardel {

namespace {

    // Cancels `cancellable` unless disarmed within the time-out: the sync libsecret calls return
    // G_IO_ERROR_CANCELLED then, so the caller's thread is never held longer than that.
    class Watchdog {
    public:
        Watchdog(GCancellable* cancellable, double seconds)
            : m_thread([this, cancellable, seconds] {
                std::unique_lock lock(m_mutex);
                if (!m_wake.wait_for(
                        lock, std::chrono::duration<double>(seconds), [this] { return m_done; })) {
                    m_fired = true;
                    g_cancellable_cancel(cancellable);
                }
            })
        {
        }
        ~Watchdog()
        {
            {
                std::lock_guard lock(m_mutex);
                m_done = true;
            }
            m_wake.notify_one();
            m_thread.join();
        }
        bool fired()
        {
            std::lock_guard lock(m_mutex);
            return m_fired;
        }

    private:
        std::mutex m_mutex;
        std::condition_variable m_wake;
        bool m_done = false;
        bool m_fired = false;
        std::thread m_thread; // last: starts after the fields it reads exist
    };

    struct Cancellable {
        GCancellable* handle = g_cancellable_new();
        ~Cancellable() { g_object_unref(handle); }
    };

    struct ErrorHolder {
        GError* error = nullptr;
        ~ErrorHolder()
        {
            if (error)
                g_error_free(error);
        }
    };

    Error keyringError(const GError* error, bool timedOut, double seconds)
    {
        if (timedOut)
            return Error(
                2, "o chaveiro não respondeu em " + std::to_string(static_cast<int>(seconds)) + " s");
        if (!error)
            return Error(3, "o chaveiro recusou a gravação");
        return Error(
            error->code, std::string("chaveiro: ") + error->message, g_quark_to_string(error->domain));
    }

} // namespace

struct LibsecretSecretStore::Schema {
    std::string name;
    SecretSchema schema {};
};

LibsecretSecretStore::LibsecretSecretStore(
    std::string service, std::string account, std::string label, Log* log, double timeoutSeconds)
    : m_service(std::move(service))
    , m_account(std::move(account))
    , m_label(std::move(label))
    , m_log(log)
    , m_timeoutSeconds(timeoutSeconds)
    , m_schema(std::make_unique<Schema>())
{
    // Items are found by their two attributes alone; the schema name is recorded but not matched, so items
    // written by another tool with the same service and account are found too.
    m_schema->name = std::string(kApplicationId) + ".Password";
    m_schema->schema.name = m_schema->name.c_str();
    m_schema->schema.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
    m_schema->schema.attributes[0] = { "service", SECRET_SCHEMA_ATTRIBUTE_STRING };
    m_schema->schema.attributes[1] = { "account", SECRET_SCHEMA_ATTRIBUTE_STRING };
    m_schema->schema.attributes[2] = { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING };
}

LibsecretSecretStore::~LibsecretSecretStore() = default;

std::optional<std::string> LibsecretSecretStore::read()
{
    // A search rather than a plain lookup: a lookup gives the same "nothing" for a missing item and for a
    // locked one whose unlock prompt was dismissed, and only the second deserves a log line.
    Cancellable cancellable;
    ErrorHolder failure;
    GList* items = nullptr;
    bool timedOut = false;
    {
        Watchdog watchdog(cancellable.handle, m_timeoutSeconds);
        if (SecretService* secrets
            = secret_service_get_sync(SECRET_SERVICE_NONE, cancellable.handle, &failure.error)) {
            GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
            g_hash_table_insert(attributes, const_cast<char*>("service"), m_service.data());
            g_hash_table_insert(attributes, const_cast<char*>("account"), m_account.data());
            items = secret_service_search_sync(secrets, &m_schema->schema, attributes,
                static_cast<SecretSearchFlags>(SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS),
                cancellable.handle, &failure.error);
            g_hash_table_unref(attributes);
            g_object_unref(secrets);
        }
        timedOut = watchdog.fired();
    }
    std::optional<std::string> value;
    std::string problem;
    if (failure.error) {
        problem = keyringError(failure.error, timedOut, m_timeoutSeconds).description();
    } else if (items) {
        auto* item = SECRET_ITEM(items->data);
        SecretValue* secret = secret_item_get_secret(item);
        if (secret_item_get_locked(item) || !secret) {
            problem = "o chaveiro está trancado";
        } else {
            gsize length = 0;
            const gchar* bytes = secret_value_get(secret, &length);
            // Invalid UTF-8 is not a token this program stored.
            if (g_utf8_validate(bytes, static_cast<gssize>(length), nullptr))
                value = std::string(bytes, length);
        }
        if (secret)
            secret_value_unref(secret);
    }
    g_list_free_full(items, g_object_unref);
    if (!problem.empty() && m_log)
        m_log->info("chaveiro: não leu o token: " + problem);
    return value;
}

void LibsecretSecretStore::write(const std::string& value)
{
    Cancellable cancellable;
    ErrorHolder failure;
    gboolean stored = FALSE;
    bool timedOut = false;
    {
        Watchdog watchdog(cancellable.handle, m_timeoutSeconds);
        // Storing replaces the item with the same attributes in the default collection.
        stored = secret_password_store_sync(&m_schema->schema, SECRET_COLLECTION_DEFAULT, m_label.c_str(),
            value.c_str(), cancellable.handle, &failure.error, "service", m_service.c_str(), "account",
            m_account.c_str(), nullptr);
        timedOut = watchdog.fired();
    }
    if (!stored)
        throw keyringError(failure.error, timedOut, m_timeoutSeconds);
}

bool LibsecretSecretStore::serviceAvailable(double timeoutSeconds)
{
    ErrorHolder failure;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &failure.error);
    if (!bus)
        return false;
    const int timeoutMs = static_cast<int>(timeoutSeconds * 1000);
    auto ask = [&](const char* method, GVariant* arguments) -> GVariant* {
        return g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
            "org.freedesktop.DBus", method, arguments, nullptr, G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr,
            nullptr);
    };
    bool available = false;
    if (GVariant* reply = ask("NameHasOwner", g_variant_new("(s)", "org.freedesktop.secrets"))) {
        gboolean owned = FALSE;
        g_variant_get(reply, "(b)", &owned);
        available = owned;
        g_variant_unref(reply);
    }
    if (!available) {
        if (GVariant* reply = ask("ListActivatableNames", nullptr)) {
            GVariantIter* names = nullptr;
            g_variant_get(reply, "(as)", &names);
            const gchar* name = nullptr;
            while (g_variant_iter_next(names, "&s", &name))
                available = available || g_strcmp0(name, "org.freedesktop.secrets") == 0;
            g_variant_iter_free(names);
            g_variant_unref(reply);
        }
    }
    g_object_unref(bus);
    return available;
}

std::unique_ptr<SecretStore> LibsecretSecretStore::forBotToken(const Paths& paths, Log& log)
{
    const std::string service = AppInfo::keychainService();
    const std::string account = "telegram-bot";
    if (serviceAvailable())
        return std::make_unique<LibsecretSecretStore>(service, account, "Brisko Telegram bot", &log);
    log.info("chaveiro: a sessão não oferece Secret Service; o token fica em arquivo privado");
    return std::make_unique<FileSecretStore>(paths.secrets(), service, account);
}

} // namespace vardel
