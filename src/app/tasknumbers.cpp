#include "app/tasknumbers.h"

#include "store/safefile.h"
#include "store/taskfile.h"
#include "store/taskidentity.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <optional>

using namespace Module1;

namespace {

// What a listing file holds:
//   #quillet listing 1
//   <the list's path>
//   current|recycled
//   the keys as listed, number 1 first ("-" for a task a command took away)
//   the keys of that view in its order now
constexpr QByteArrayView kHeader = "#quillet listing 1";
// A line of 1,001 keys of 48 characters, twice, and the path.
constexpr qint64 kLargestListing = 2 * kTaskSlots * 49 + 8192;

struct Listing {
    bool recycled = false;
    std::vector<QByteArray> listed;  // by number - 1
    std::vector<QByteArray> order;
};

QString listingFile()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    const QByteArray digest =
        QCryptographicHash::hash(taskFilePath().toUtf8(), QCryptographicHash::Sha256).toHex();
    return state + QStringLiteral("/quillet/listed-") + QString::fromLatin1(digest.left(16));
}

std::vector<QByteArray> viewOrder(bool recycled)
{
    const std::vector<QByteArray> keys = taskKeys();
    std::vector<QByteArray> order;
    for (int i = 0; i < taskCount; ++i) {
        if (isDeleted(tasks[size_t(i)]) == recycled)
            order.push_back(keys[size_t(i)]);
    }
    return order;
}

QByteArray joined(const std::vector<QByteArray> &keys)
{
    QByteArray line;
    for (const QByteArray &key : keys)
        line += (line.isEmpty() ? "" : " ") + (key.isEmpty() ? QByteArray("-") : key);
    return line;
}

std::vector<QByteArray> split(const QByteArray &line)
{
    std::vector<QByteArray> keys;
    for (const QByteArray &key : line.split(' ')) {
        if (!key.isEmpty())
            keys.push_back(key == "-" ? QByteArray() : key);
    }
    return keys;
}

bool write(const Listing &listing, QString *why)
{
    const QString path = listingFile();
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray text = kHeader.toByteArray() + '\n' + taskFilePath().toUtf8() + '\n' +
                            (listing.recycled ? "recycled" : "current") + '\n' +
                            joined(listing.listed) + '\n' + joined(listing.order) + '\n';
    const OwnFileWrite written = writeOwnFile(path, text, OwnFileWrite::StreamsRefused, 0600);
    if (!written.ok())
        *why = written.why;
    return written.ok();
}

// The listing remembered for this list; nothing when there is none (or it
// is of another list whose path has the same digest, or unreadable).
std::optional<Listing> remembered()
{
    const ReadResult read = readRegularFile(listingFile(), kLargestListing);
    if (read.outcome != ReadResult::Read)
        return std::nullopt;
    // The two key lines may be empty, so the lines are counted as written.
    QList<QByteArray> lines = read.bytes.split('\n');
    if (lines.size() < 5 || lines[0] != kHeader || lines[1] != taskFilePath().toUtf8() ||
        (lines[2] != "current" && lines[2] != "recycled"))
        return std::nullopt;
    return Listing{lines[2] == "recycled", split(lines[3]), split(lines[4])};
}

QString listAgain()
{
    return QStringLiteral("run 'quillet --list' again to see the numbers as they are now");
}

}  // namespace

std::vector<int> taskNumbers()
{
    std::vector<int> numbers(size_t(taskCount), 0);
    int current = 0, recycled = 0;
    for (int i = 0; i < taskCount; ++i)
        numbers[size_t(i)] = isDeleted(tasks[size_t(i)]) ? ++recycled : ++current;
    return numbers;
}

bool rememberListing(bool recycled, QString *why)
{
    Listing listing{recycled, viewOrder(recycled), {}};
    listing.order = listing.listed;
    return write(listing, why);
}

ListedTask findListedTask(int number)
{
    ListedTask found;
    const std::optional<Listing> listing = remembered();
    if (!listing) {
        found.refusal = QStringLiteral(
                            "no listing of %1 is remembered, so task %2 is not known; "
                            "run 'quillet --list' first")
                            .arg(taskFilePath(), QString::number(number));
        return found;
    }
    found.recycled = listing->recycled;
    const QString view =
        listing->recycled ? QStringLiteral("recycled tasks") : QStringLiteral("tasks");
    if (number < 1 || size_t(number) > listing->listed.size() ||
        listing->listed[size_t(number - 1)].isEmpty()) {
        found.refusal = QStringLiteral("the last listing of the %1 of %2 had no task %3; %4")
                            .arg(view, taskFilePath(), QString::number(number), listAgain());
        return found;
    }
    const QByteArray &key = listing->listed[size_t(number - 1)];
    const std::vector<QByteArray> keys = taskKeys();
    const std::vector<QByteArray> now = viewOrder(listing->recycled);
    const auto place = [&](const std::vector<QByteArray> &order) {
        const auto it = std::find(order.begin(), order.end(), key);
        return it == order.end() ? -1 : int(it - order.begin());
    };
    // Still there, unchanged, and where these commands left it: nothing
    // else moved it since the listing.
    const int at = place(now);
    if (at < 0 || at != place(listing->order)) {
        found.refusal = QStringLiteral(
                            "%1 changed since it was listed, and task %2 is no longer "
                            "where the listing showed it; %3")
                            .arg(taskFilePath(), QString::number(number), listAgain());
        return found;
    }
    for (int i = 0; i < taskCount; ++i) {
        if (keys[size_t(i)] == key && isDeleted(tasks[size_t(i)]) == listing->recycled)
            found.slot = i;
    }
    return found;
}

bool keepListingAfter(int number, const QByteArray &key, QString *why)
{
    std::optional<Listing> listing = remembered();
    if (!listing || number < 1 || size_t(number) > listing->listed.size())
        return true;
    listing->listed[size_t(number - 1)] = key;
    listing->order = viewOrder(listing->recycled);
    return write(*listing, why);
}
