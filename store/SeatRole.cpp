#include "store/SeatRole.h"

#include <libpq-fe.h>

#include "rules/Permission.h"
#include "store/DatabaseAddress.h"
#include "store/ServerConnection.h"
#include "store/SqlNames.h"
#include "store/StoreError.h"

namespace store {

namespace {

// The checks run as the tables' owner (security definer), who alone may read when a
// row was appended (internet_began: never granted to anyone). Every refusal names what
// was refused, for the seat's box.
QByteArray seatRules(const QByteArray& seat, const QByteArray& seatName)
{
    const QByteArray skew = QByteArray::number(kSeatClockSkewMinutes);
    const QByteArray signUp = QByteArray::number(horavo::codeOf(horavo::kSignUpPermission));
    return R"SQL(
create table if not exists internet_began(horavo_key bigint primary key, began timestamptz not null);
revoke all on internet_began from public;

-- The length of a minute for the bound, in seconds: a test on the simulated line, whose
-- minute is short, replaces this function (as the tables' owner; seats may not).
create or replace function horavo_seat_minute_seconds() returns integer
language sql immutable as 'select 60';
revoke all on function horavo_seat_minute_seconds() from public;

create or replace function horavo_seat_writes() returns trigger
language plpgsql security definer set search_path = pg_catalog, public as $body$
declare
    began timestamptz;
    started timestamp;
begin
    if not pg_has_role(session_user, )SQL" + seatName + R"SQL(, 'member')
       or pg_has_role(session_user, (select tableowner from pg_tables
                                     where schemaname = tg_table_schema and tablename = tg_table_name), 'member') then
        if tg_op = 'INSERT' and tg_table_name = 'internet' then
            insert into internet_began values (new.horavo_key, now());
        end if;
        return new;
    end if;
    if tg_table_name = 'users' then
        if new.quanxian is distinct from )SQL" + signUp + R"SQL( then
            raise exception '座位只能注册权限代码为 )SQL" + signUp + R"SQL( 的用户，不能是 %', new.quanxian;
        end if;
        return new;
    end if;
    if tg_op = 'INSERT' then
        begin
            started := (new.idate || ' ' || new.stime)::timestamp;
        exception when others then
            raise exception '使用记录的日期或开始时间不对：% %', new.idate, new.stime;
        end;
        if new.itime is distinct from 1 then
            raise exception '新的使用记录只能从 1 分钟开始，不能是 %', new.itime;
        end if;
        if abs(extract(epoch from (localtimestamp - started))) > )SQL" + skew + R"SQL( * 60 then
            raise exception '使用记录的开始时间 % % 与服务器的时间 % 相差超过 )SQL" + skew + R"SQL( 分钟：请校准这台电脑的时钟',
                new.idate, new.stime, to_char(localtimestamp, 'YYYY-MM-DD HH24:MI:SS');
        end if;
        insert into internet_began values (new.horavo_key, now());
        return new;
    end if;
    if new.iuser is distinct from old.iuser or new.idate is distinct from old.idate
       or new.stime is distinct from old.stime then
        raise exception '座位不能改动使用记录的用户、日期或开始时间';
    end if;
    if new.itime < old.itime then
        raise exception '座位不能减少使用记录的分钟数（% 改为 %）', old.itime, new.itime;
    end if;
    select b.began into began from internet_began b where b.horavo_key = old.horavo_key;
    if began is null or new.itime > floor(extract(epoch from (now() - began)) / horavo_seat_minute_seconds()) + 2 then
        raise exception '使用记录的分钟数 % 超过了从它开始到现在服务器上过去的时间', new.itime;
    end if;
    return new;
end
$body$;

drop trigger if exists horavo_seat_writes on users;
create trigger horavo_seat_writes before insert on users
    for each row execute function horavo_seat_writes();
drop trigger if exists horavo_seat_writes on internet;
create trigger horavo_seat_writes before insert or update on internet
    for each row execute function horavo_seat_writes();

revoke all on users, internet, knumber from public;
grant select on users, internet, knumber to )SQL" + seat + R"SQL(;
grant insert (iuser, passw, quanxian) on users to )SQL" + seat + R"SQL(;
grant insert (iuser, idate, itime, stime, xtime), update (iuser, idate, itime, stime, xtime)
    on internet to )SQL" + seat + ";";
}

QByteArray literal(const QByteArray& text)
{
    QByteArray quoted = text;
    quoted.replace('\'', "''");
    return '\'' + quoted + '\'';
}

} // namespace

void prepareSeatRole(const DatabaseAddress& server, const QString& role)
{
    if (!server.isServer())
        throw StoreError(QStringLiteral("座位的角色只在数据库服务器上才有"));
    if (role.trimmed().isEmpty())
        throw StoreError(QStringLiteral("座位的角色不能没有名字"));
    const QByteArray name = role.toUtf8();
    const std::unique_ptr<ServerConnection> connection = ServerConnection::open(server.text());
    connection->writeTransaction([&] {
        // Another database of the same server may be making the same role at this moment.
        connection->exec("do $do$ begin create role " + detail::quoted(name)
                         + " login; exception when duplicate_object then null; end $do$");
        connection->exec(seatRules(detail::quoted(name), literal(name)));
    });
}

bool mayAdminister(const DatabaseAddress& address)
{
    if (!address.isServer())
        return true;
    const std::unique_ptr<ServerConnection> connection = ServerConnection::open(address.text());
    const ServerResult may = connection->execParams("select has_table_privilege('users', 'UPDATE')", {});
    return PQntuples(may.get()) == 1 && PQgetvalue(may.get(), 0, 0)[0] == 't';
}

} // namespace store
