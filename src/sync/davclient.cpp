#include "sync/davclient.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslError>
#include <QXmlStreamReader>

namespace qsync {

namespace {

// A server that answers nothing for this long is given up on.
constexpr int kTransferTimeoutMs = 60000;

constexpr auto kDav = QLatin1String("DAV:");
constexpr auto kCalDav = QLatin1String("urn:ietf:params:xml:ns:caldav");
constexpr auto kCalendarServer = QLatin1String("http://calendarserver.org/ns/");

}  // namespace

DavClient::DavClient(const QString &user, const QString &password)
    : m_user(user), m_password(password)
{
    m_network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

Response DavClient::send(const QByteArray &method, const QUrl &url, const QByteArray &body,
                         const QList<std::pair<QByteArray, QByteArray>> &headers)
{
    ++m_requests;
    QNetworkRequest request(url);
    request.setTransferTimeout(kTransferTimeoutMs);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray("Quillet/" QUILLET_VERSION));
    if (!m_user.isEmpty() || !m_password.isEmpty())
        request.setRawHeader("Authorization",
                             "Basic " +
                                 (m_user + QLatin1Char(':') + m_password).toUtf8().toBase64());
    if (!body.isEmpty()) {
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          method == "PUT" ? QByteArray("text/calendar; charset=utf-8")
                                          : QByteArray("application/xml; charset=utf-8"));
    }
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    QNetworkReply *reply = m_network.sendCustomRequest(request, method, body);
    // Never ignored: a certificate that is not trusted ends the request
    // before anything (the password above all) is sent.
    QStringList certificate;
    QObject::connect(reply, &QNetworkReply::sslErrors, reply,
                     [&certificate](const QList<QSslError> &errors) {
                         for (const QSslError &e : errors)
                             certificate << e.errorString();
                     });
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    Response r;
    r.url = url;
    r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    r.body = reply->readAll();
    for (const auto &[name, value] : reply->rawHeaderPairs())
        r.headers.insert(name.toLower(), value);
    if (r.status == 0) {
        r.error = reply->errorString();
        certificate.removeDuplicates();
        r.certificate = certificate.join(QStringLiteral("; "));
    }
    reply->deleteLater();
    return r;
}

bool isLoopback(const QUrl &url)
{
    const QString host = url.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

QString refusedUrl(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return QStringLiteral("'%1' is not a server's address").arg(url.toString());
    if (url.scheme() == QLatin1String("https"))
        return {};
    if (url.scheme() == QLatin1String("http")) {
        if (isLoopback(url))
            return {};
        return QStringLiteral(
                   "%1 is plain http: the password and the tasks would cross the "
                   "network unencrypted; use https")
            .arg(url.toString(QUrl::RemoveUserInfo));
    }
    return QStringLiteral("'%1' is neither https nor http").arg(url.toString(QUrl::RemoveUserInfo));
}

QString describeFailure(const Response &r)
{
    const QString where = r.url.toString(QUrl::RemoveUserInfo);
    if (r.status == 0 && !r.certificate.isEmpty())
        return QStringLiteral("%1 was refused: its certificate is not trusted (%2)")
            .arg(where, r.certificate);
    if (r.status == 0)
        return QStringLiteral("%1 could not be reached: %2").arg(where, r.error);
    if (r.status == 401)
        return QStringLiteral("%1 refused the user name or password (401)").arg(where);
    if (r.status == 403)
        return QStringLiteral("%1 forbids this (403)").arg(where);
    return QStringLiteral("%1 answered %2").arg(where).arg(r.status);
}

QString canonicalPath(const QUrl &base, const QString &href)
{
    const QUrl resolved = base.resolved(QUrl(href.trimmed()));
    return QUrl::fromPercentEncoding(resolved.path(QUrl::FullyEncoded).toUtf8());
}

MultiStatus parseMultiStatus(const QByteArray &body, const QUrl &base)
{
    MultiStatus out;
    QXmlStreamReader xml(body);
    DavEntry entry;
    bool inResponse = false, inPropstat = false, inPrincipal = false, inHome = false;
    bool inComponents = false, inPrivileges = false, sawComponents = false, sawPrivileges = false;
    bool todoComponent = false, writePrivilege = false;
    int propstatStatus = 200;
    DavEntry props;  // this propstat's properties
    const auto statusOf = [](const QString &line) {
        const QStringList parts = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        return parts.size() >= 2 ? parts[1].toInt() : 0;
    };
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        const QStringView ns = xml.namespaceUri();
        const QStringView name = xml.name();
        const bool dav = ns == kDav, caldav = ns == kCalDav;
        if (token == QXmlStreamReader::StartElement) {
            if (dav && name == u"multistatus") {
                out.valid = true;
            } else if (dav && name == u"response") {
                inResponse = true;
                entry = DavEntry();
            } else if (!inResponse && dav && name == u"sync-token") {
                out.syncToken = xml.readElementText().trimmed();
            } else if (!inResponse) {
                continue;
            } else if (dav && name == u"propstat") {
                inPropstat = true;
                propstatStatus = 200;
                props = DavEntry();
                sawComponents = sawPrivileges = todoComponent = writePrivilege = false;
            } else if (dav && name == u"href" && !inPropstat) {
                entry.href = canonicalPath(base, xml.readElementText());
            } else if (dav && name == u"href" && inPrincipal) {
                props.principal = canonicalPath(base, xml.readElementText());
            } else if (dav && name == u"href" && inHome) {
                if (props.home.isEmpty())
                    props.home = canonicalPath(base, xml.readElementText());
            } else if (dav && name == u"status") {
                const int status = statusOf(xml.readElementText());
                if (inPropstat)
                    propstatStatus = status;
                else
                    entry.status = status;
            } else if (!inPropstat) {
                continue;
            } else if (dav && name == u"getetag") {
                props.etag = xml.readElementText().trimmed().toUtf8();
            } else if (dav && name == u"displayname") {
                props.displayName = xml.readElementText().trimmed();
            } else if (dav && name == u"collection") {
                props.collection = true;
            } else if (caldav && name == u"calendar") {
                props.calendar = true;
            } else if (caldav && name == u"calendar-data") {
                props.calendarData = xml.readElementText().toUtf8();
            } else if (dav && name == u"current-user-principal") {
                inPrincipal = true;
            } else if (caldav && name == u"calendar-home-set") {
                inHome = true;
            } else if (caldav && name == u"supported-calendar-component-set") {
                inComponents = sawComponents = true;
            } else if (caldav && name == u"comp" && inComponents) {
                if (xml.attributes()
                        .value(QLatin1String("name"))
                        .compare(u"VTODO", Qt::CaseInsensitive) == 0)
                    todoComponent = true;
            } else if (dav && name == u"current-user-privilege-set") {
                inPrivileges = sawPrivileges = true;
            } else if (dav && inPrivileges &&
                       (name == u"write" || name == u"write-content" || name == u"all")) {
                writePrivilege = true;
            } else if (ns == kCalendarServer && name == u"getctag") {
                props.ctag = xml.readElementText().trimmed().toUtf8();
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (dav && name == u"response") {
                inResponse = false;
                out.entries.push_back(entry);
            } else if (dav && name == u"propstat") {
                inPropstat = false;
                if (propstatStatus < 200 || propstatStatus >= 300)
                    continue;
                if (!props.etag.isEmpty())
                    entry.etag = props.etag;
                if (!props.calendarData.isEmpty())
                    entry.calendarData = props.calendarData;
                if (!props.displayName.isEmpty())
                    entry.displayName = props.displayName;
                entry.collection |= props.collection;
                entry.calendar |= props.calendar;
                if (!props.principal.isEmpty())
                    entry.principal = props.principal;
                if (!props.home.isEmpty())
                    entry.home = props.home;
                if (!props.ctag.isEmpty())
                    entry.ctag = props.ctag;
                if (sawComponents)
                    entry.todos = todoComponent;
                if (sawPrivileges)
                    entry.writable = writePrivilege;
            } else if (dav && name == u"current-user-principal") {
                inPrincipal = false;
            } else if (caldav && name == u"calendar-home-set") {
                inHome = false;
            } else if (caldav && name == u"supported-calendar-component-set") {
                inComponents = false;
            } else if (dav && name == u"current-user-privilege-set") {
                inPrivileges = false;
            }
        }
    }
    if (xml.hasError())
        out.valid = false;
    return out;
}

}  // namespace qsync
