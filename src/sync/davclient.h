#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>

#include <vector>

// WebDAV and CalDAV requests, one at a time, each waited for: the sync is
// a sequence of steps, each depending on the one before.
namespace qsync {

struct Response {
    int status = 0;  // 0: no answer (the reason in `error`)
    QByteArray body;
    QHash<QByteArray, QByteArray> headers;  // names in lower case
    QString error;
    QString certificate;  // why the server's certificate was refused, if it was
    QUrl url;
    bool ok() const { return status >= 200 && status < 300; }
    QByteArray header(const char *name) const { return headers.value(QByteArray(name)); }
};

class DavClient {
public:
    DavClient(const QString &user, const QString &password);
    Response send(const QByteArray &method, const QUrl &url, const QByteArray &body = {},
                  const QList<std::pair<QByteArray, QByteArray>> &headers = {});
    void setPassword(const QString &password) { m_password = password; }
    int requests() const { return m_requests; }

private:
    QNetworkAccessManager m_network;
    QString m_user, m_password;
    int m_requests = 0;
};

// Plain http only to this machine: a password or a task must not cross a
// network unencrypted.
bool isLoopback(const QUrl &url);
// Why the URL is refused, or empty.
QString refusedUrl(const QUrl &url);

// A failed answer said for the user: unreachable, 401, 403, the status.
QString describeFailure(const Response &response);

// One <response> of a 207 Multi-Status.
struct DavEntry {
    QString href;  // the path, resolved against the request
    int status = 200;
    QByteArray etag;
    QByteArray calendarData;
    QString displayName;
    bool collection = false, calendar = false;
    bool todos = true;        // the collection takes VTODOs (or does not say)
    bool writable = true;     // current-user-privilege-set allows writing (or does not say)
    QString principal, home;  // current-user-principal, calendar-home-set
    QByteArray ctag;
    QString syncToken;
};
struct MultiStatus {
    std::vector<DavEntry> entries;
    QString syncToken;
    bool valid = false;
};
MultiStatus parseMultiStatus(const QByteArray &body, const QUrl &base);

// The href's canonical form, to compare hrefs servers spell differently.
QString canonicalPath(const QUrl &base, const QString &href);

}  // namespace qsync
