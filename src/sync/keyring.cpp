#include "sync/keyring.h"

// GLib names a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

namespace qsync {

namespace {

const SecretSchema *schema()
{
    static const SecretSchema s = {"org.quillet.Sync",
                                   SECRET_SCHEMA_NONE,
                                   {{"collection", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                   0,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr};
    return &s;
}

QString failure(GError *error)
{
    const QString text = QString::fromUtf8(error->message);
    g_error_free(error);
    return text;
}

}  // namespace

bool storePassword(const QString &collection, const QString &user, const QString &password,
                   QString *why)
{
    GError *error = nullptr;
    const QByteArray c = collection.toUtf8(), u = user.toUtf8(), p = password.toUtf8();
    const QByteArray label = "Quillet sync: " + c;
    const gboolean stored = secret_password_store_sync(
        schema(), SECRET_COLLECTION_DEFAULT, label.constData(), p.constData(), nullptr, &error,
        "collection", c.constData(), "user", u.constData(), nullptr);
    if (!stored) {
        *why = QStringLiteral("the password could not be kept in the keyring: %1")
                   .arg(error ? failure(error) : QStringLiteral("refused"));
        return false;
    }
    return true;
}

bool lookUpPassword(const QString &collection, const QString &user, QString *password, QString *why)
{
    GError *error = nullptr;
    const QByteArray c = collection.toUtf8(), u = user.toUtf8();
    gchar *found = secret_password_lookup_sync(schema(), nullptr, &error, "collection",
                                               c.constData(), "user", u.constData(), nullptr);
    if (error) {
        *why = QStringLiteral("the keyring could not be read: %1").arg(failure(error));
        return false;
    }
    if (!found) {
        *why = QStringLiteral(
                   "the keyring holds no password for %1; run quillet --sync-setup "
                   "again")
                   .arg(collection);
        return false;
    }
    *password = QString::fromUtf8(found);
    secret_password_free(found);
    return true;
}

}  // namespace qsync
