// SPDX-License-Identifier: GPL-3.0-or-later
// Central connection strings, parsed by libpq: what QPSQL is given to connect, and what is
// refused (a password anywhere, a string libpq does not take).
#include "central/central.h"

#include "store/failed.h"

#include <QRegularExpression>
#include <QUrl>

#include <libpq-fe.h>
#include <memory>

namespace {

// A value for a libpq connection string, quoted.
QString Quote(const QString& v) {
    QString s = v;
    s.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace('\'', QStringLiteral("\\'"));
    return QLatin1Char('\'') + s + QLatin1Char('\'');
}

// Why a connection string is refused for holding a password.
QString NoPasswordText(bool uri) {
    return QStringLiteral("%1中不能写密码：请写入 ~/.pgpass（权限 0600）或 libpq 服务文件")
        .arg(uri ? QStringLiteral("中心时间表地址") : QStringLiteral("连接参数"));
}

// Whether a string libpq could not parse speaks of a password: libpq's reason may quote the
// string, so it is not said back.
bool MentionsPassword(const QString& c) {
    static const QRegularExpression userInfo(QStringLiteral("^[^/?@]*//[^/?@]*:[^/?@]*@"));
    const QString decoded = QUrl::fromPercentEncoding(c.toUtf8()).toLower();
    return decoded.contains(QLatin1String("password")) || decoded.contains(userInfo);
}

// What every central connection gets unless the string says otherwise: a silent server fails
// the connection or the statement within seconds.
const QList<std::pair<QString, QString>>& ConnectDefaults() {
    static const QList<std::pair<QString, QString>> all = {
        {QStringLiteral("connect_timeout"), QStringLiteral("5")},
        {QStringLiteral("keepalives_idle"), QStringLiteral("10")},
        {QStringLiteral("keepalives_interval"), QStringLiteral("5")},
        {QStringLiteral("keepalives_count"), QStringLiteral("3")},
        {QStringLiteral("tcp_user_timeout"), QStringLiteral("20000")},
        {QStringLiteral("application_name"), QStringLiteral("belvoran")},
        {QStringLiteral("options"), QStringLiteral("-c statement_timeout=30000")}};
    return all;
}

bool IsConnectDefault(const QString& key) {
    return std::any_of(ConnectDefaults().begin(), ConnectDefaults().end(),
                       [&key](const auto& option) { return option.first == key; });
}

// One option of a connection string as QPSQL takes it; numbers (and lists of them) bare.
QString OptionText(const QString& key, const QString& value) {
    static const QRegularExpression numbers(QStringLiteral("^[0-9]+(,[0-9]+)*$"));
    return key + QLatin1Char('=') + (numbers.match(value).hasMatch() ? value : Quote(value));
}

// The options libpq parsed, as QPSQL's connect options: where to connect first, then the
// rest in libpq's order, then the defaults (those given win; session options add to ours).
bool ParsedOptions(const PQconninfoOption* parsed, bool uri, QString* options, QString* error) {
    static const QStringList where = {QStringLiteral("host"), QStringLiteral("hostaddr"),
                                      QStringLiteral("port"), QStringLiteral("dbname"),
                                      QStringLiteral("user")};
    QStringList first(where.size()), rest;
    QHash<QString, QString> given;
    for (const PQconninfoOption* o = parsed; o->keyword; ++o) {
        const QString key = QString::fromUtf8(o->keyword);
        const QString value = QString::fromUtf8(o->val);
        if (!o->val) {
            continue;
        } else if (key == QLatin1String("password") || key == QLatin1String("sslpassword")) {
            return Failed(error, NoPasswordText(uri));
        } else if (value.contains(QLatin1Char(';'))) {
            // QPSQL splits its connect options at every semicolon, even inside quotes.
            return Failed(error, QStringLiteral("连接参数 %1 的值中不能有分号").arg(key));
        } else if (const qsizetype at = where.indexOf(key); at >= 0) {
            first[at] = OptionText(key, value);
        } else if (!IsConnectDefault(key)) {
            rest << OptionText(key, value);
        }
        given.insert(key, value);
    }
    for (const auto& [key, value] : ConnectDefaults()) {
        if (key == QLatin1String("options") && given.contains(key)) {
            rest << OptionText(key, value + QLatin1Char(' ') + given.value(key));
        } else {
            rest << OptionText(key, given.value(key, value));
        }
    }
    first.removeAll(QString());
    *options = (first + rest).join(QLatin1Char(' '));
    return true;
}

} // namespace

bool CentralConnectOptions(const QString& central, QString* options, QString* error) {
    QString c = central.trimmed();
    if (c.isEmpty()) {
        return Failed(error, QStringLiteral("没有给出中心时间表"));
    }
    // Never echoed back in a refusal: it may hold a password.
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*)://"));
    const auto m = scheme.match(c);
    if (m.hasMatch()) {
        const QString name = m.captured(1).toLower();
        if (name != QLatin1String("postgresql") && name != QLatin1String("postgres")) {
            return Failed(error, QStringLiteral("中心时间表地址须以 postgresql:// 开头"));
        }
        c.replace(0, name.size(), name); // libpq knows the scheme in lower case only
    } else if (!c.contains(QLatin1Char('='))) {
        // Not a service name (those are section names of pg_service.conf): perhaps an address
        // missing its scheme, with a password in it.
        if (c.contains(QRegularExpression(QStringLiteral("[\\s@:/]")))) {
            return Failed(error, QStringLiteral("中心时间表须是服务名、“host=… dbname=…”连接参数"
                                                "或 postgresql:// 地址"));
        }
        c = QStringLiteral("service=") + Quote(c);
    }
    char* why = nullptr;
    const std::unique_ptr<PQconninfoOption, void (*)(PQconninfoOption*)> parsed(
        PQconninfoParse(c.toUtf8().constData(), &why), PQconninfoFree);
    if (!parsed) {
        const QString reason = why ? QString::fromUtf8(why).trimmed() : QStringLiteral("内存不足");
        PQfreemem(why);
        const QString what = m.hasMatch() ? QStringLiteral("地址") : QStringLiteral("连接参数");
        return Failed(error, MentionsPassword(c)
                                 ? NoPasswordText(m.hasMatch())
                                 : QStringLiteral("中心时间表%1有误：%2").arg(what, reason));
    }
    return ParsedOptions(parsed.get(), m.hasMatch(), options, error);
}
