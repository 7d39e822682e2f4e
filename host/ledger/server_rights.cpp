// The rights of a PostgreSQL site: what each operator's role may do to the host's tables, the
// functions through which administrators change operators, and the triggers that write the
// session's user into the names of the log, the steps and the records.

#include "host/ledger/operators.h"

#include "store/sql_connection.h"

#include <QCryptographicHash>

namespace bw::host::operators {

namespace {

// Every table of the host's schema; no one but the owner holds a right the map does not give.
const char* const kAllTables = "machineinfo, cardmapping, cardmappingtmp, ctrllog, usergrants, "
                               "mealrecord, mealrecordraw, mealrecordheld, sitestep, "
                               "terminalstation, operators, employees, departments, "
                               "departmentgroup, employeecard, monthfiles, webtoken";

// The grant map. Every operator may read every table, write the log (and complete its own
// pending entries: ResultA only) and the routine's steps. Beyond that, by its functions in
// UserGrants ("*" is all of them):
//   add, save (".增加", ".保存")   insert and update MachineInfo
//   edit (".修改")                 update MachineInfo; TerminalStation (the workstations)
//   delete (".删除", ".刪除")       delete MachineInfo and CardMapping, insert CardMappingTmp
//   collect, clear                 insert MealRecord, MealRecordRaw and MealRecordHeld; MonthFiles
//   (the nightly
//                                  run's month files)
//   names ("下载名单")              insert, delete CardMapping (the lists derived from the
//                                  register)
//   cards ("卡号管理")              insert, update, delete CardMapping, Employees and the
//                                  register's departments and cards
// The terminal work that writes nothing more (test, clock, bells, init) needs no
// right on the tables: the permission component refuses it to those without the function.
// Operators and UserGrants are changed only through the bw_operator_* functions, which
// refuse whoever is no administrator.
//
// An operator is its role itself, not a role of the same name: Operators keeps the role's oid
// from its making (a role dropped and made again, or renamed, is no operator). The operators
// of a schema secured before the oid was kept are taken once by the rights they hold.
const char* const kFunctions[] = {
    "ALTER TABLE operators ADD COLUMN IF NOT EXISTS roleoid oid",
    R"SQL(UPDATE operators o SET roleoid = r.oid FROM pg_roles r WHERE o.roleoid IS NULL
AND r.rolname = o.name AND NOT r.rolsuper AND has_table_privilege(r.oid, 'ctrllog', 'INSERT'))SQL",
    // The enabled operators with every right whose role may sign in: the administrators.
    R"SQL(CREATE OR REPLACE FUNCTION bw_admins() RETURNS SETOF text LANGUAGE sql STABLE
SECURITY DEFINER SET search_path = @S, pg_temp AS $f$
  SELECT o.name FROM operators o JOIN pg_roles r ON r.oid = o.roleoid AND r.rolname = o.name
   AND r.rolcanlogin WHERE o.disabled = 0 AND EXISTS (SELECT 1 FROM usergrants g
   WHERE g.username = o.name AND g.functionname = '*')
$f$)SQL",
    R"SQL(CREATE OR REPLACE FUNCTION bw_is_admin() RETURNS boolean LANGUAGE sql STABLE
SECURITY DEFINER SET search_path = @S, pg_temp AS $f$
  SELECT session_user = current_user
      OR (SELECT rolsuper FROM pg_roles WHERE rolname = session_user)
      OR session_user IN (SELECT bw_admins())
$f$)SQL",
    R"SQL(CREATE OR REPLACE FUNCTION bw_apply_grants(who text) RETURNS void LANGUAGE plpgsql
SECURITY DEFINER SET search_path = @S, pg_temp AS $f$
DECLARE
  fs text[];
  everything boolean;
BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = who) THEN RETURN; END IF;
  EXECUTE format('REVOKE ALL ON @T FROM %I', who);
  EXECUTE format('REVOKE ALL ON ALL SEQUENCES IN SCHEMA %I FROM %I', current_schema(), who);
  IF NOT EXISTS (SELECT 1 FROM operators o JOIN pg_roles r ON r.oid = o.roleoid
                 AND r.rolname = o.name WHERE o.name = who AND o.disabled = 0) THEN
    RETURN;
  END IF;
  SELECT coalesce(array_agg(functionname), '{}') INTO fs FROM usergrants WHERE username = who;
  everything := '*' = ANY(fs);
  EXECUTE format('GRANT USAGE ON SCHEMA %I TO %I', current_schema(), who);
  EXECUTE format('GRANT SELECT ON @T TO %I', who);
  EXECUTE format('GRANT INSERT ON ctrllog, sitestep TO %I', who);
  EXECUTE format('GRANT UPDATE (resulta) ON ctrllog TO %I', who);
  EXECUTE format('GRANT USAGE ON ALL SEQUENCES IN SCHEMA %I TO %I', current_schema(), who);
  IF everything OR EXISTS (SELECT 1 FROM unnest(fs) f WHERE f LIKE '%.增加' OR f LIKE '%.保存')
  THEN
    EXECUTE format('GRANT INSERT, UPDATE ON machineinfo TO %I', who);
  END IF;
  IF everything OR EXISTS (SELECT 1 FROM unnest(fs) f WHERE f LIKE '%.修改') THEN
    EXECUTE format('GRANT UPDATE ON machineinfo TO %I', who);
    EXECUTE format('GRANT INSERT, UPDATE, DELETE ON terminalstation TO %I', who);
  END IF;
  IF everything OR EXISTS (SELECT 1 FROM unnest(fs) f WHERE f LIKE '%.删除' OR f LIKE '%.刪除')
  THEN
    EXECUTE format('GRANT DELETE ON machineinfo, cardmapping TO %I', who);
    EXECUTE format('GRANT INSERT ON cardmappingtmp TO %I', who);
  END IF;
  IF everything OR '采集数据' = ANY(fs) OR '采集数据并清除' = ANY(fs) THEN
    EXECUTE format('GRANT INSERT ON mealrecord, mealrecordraw, mealrecordheld, monthfiles TO %I', who);
  END IF;
  IF everything OR '下载名单' = ANY(fs) THEN
    EXECUTE format('GRANT INSERT, DELETE ON cardmapping TO %I', who);
  END IF;
  -- The web view's API tokens are an administrator's to give and take back.
  IF everything THEN
    EXECUTE format('GRANT INSERT, DELETE ON webtoken TO %I', who);
  END IF;
  IF everything OR '卡号管理' = ANY(fs) THEN
    EXECUTE format('GRANT INSERT, UPDATE, DELETE ON cardmapping, employees, departments, %s TO %I',
                   'departmentgroup, employeecard', who);
  END IF;
END $f$)SQL",
    R"SQL(CREATE OR REPLACE FUNCTION bw_check_operator_change(who text, keeps_admin boolean)
RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = @S, pg_temp AS $f$
BEGIN
  IF NOT bw_is_admin() THEN RAISE EXCEPTION USING ERRCODE = 'BW001', MESSAGE = 'NotAdministrator'; END IF;
  IF NOT EXISTS (SELECT 1 FROM operators WHERE name = who) THEN
    RAISE EXCEPTION USING ERRCODE = 'BW003', MESSAGE = 'NoSuchOperator';
  END IF;
  -- Only an administrator's going can leave the site without one, and the owner, who can
  -- always name another, may let it go.
  IF NOT keeps_admin AND session_user <> current_user AND who IN (SELECT bw_admins())
     AND NOT EXISTS (SELECT 1 FROM bw_admins() a WHERE a <> who) THEN
    RAISE EXCEPTION USING ERRCODE = 'BW004', MESSAGE = 'LastAdministrator';
  END IF;
END $f$)SQL",
    R"SQL(CREATE OR REPLACE FUNCTION bw_operator_add(who text, verifier text, rights text[])
RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = @S, pg_temp AS $f$
BEGIN
  IF NOT bw_is_admin() THEN RAISE EXCEPTION USING ERRCODE = 'BW001', MESSAGE = 'NotAdministrator'; END IF;
  IF who IS NULL OR who = '' OR who <> btrim(who) OR octet_length(who) > 63 OR who = '*'
     OR who ~ '[[:cntrl:]]' THEN
    RAISE EXCEPTION USING ERRCODE = 'BW005', MESSAGE = 'BadName';
  END IF;
  IF EXISTS (SELECT 1 FROM operators WHERE name = who)
     OR EXISTS (SELECT 1 FROM pg_roles WHERE rolname = who) THEN
    RAISE EXCEPTION USING ERRCODE = 'BW002', MESSAGE = 'Exists';
  END IF;
  EXECUTE format('CREATE ROLE %I LOGIN PASSWORD %L', who, verifier);
  INSERT INTO operators (name, passwordhash, disabled, roleoid)
    SELECT who, NULL, 0, oid FROM pg_roles WHERE rolname = who;
  INSERT INTO usergrants (username, functionname) SELECT DISTINCT who, r FROM unnest(rights) r;
  PERFORM bw_apply_grants(who);
END $f$)SQL",
    R"SQL(CREATE OR REPLACE FUNCTION bw_operator_rights(who text, rights text[])
RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = @S, pg_temp AS $f$
BEGIN
  PERFORM bw_check_operator_change(who, '*' = ANY(rights));
  DELETE FROM usergrants WHERE username = who;
  INSERT INTO usergrants (username, functionname) SELECT DISTINCT who, r FROM unnest(rights) r;
  PERFORM bw_apply_grants(who);
END $f$)SQL",
    R"SQL(CREATE OR REPLACE FUNCTION bw_operator_password(who text, verifier text)
RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = @S, pg_temp AS $f$
BEGIN
  IF who <> session_user AND NOT bw_is_admin() THEN
    RAISE EXCEPTION USING ERRCODE = 'BW001', MESSAGE = 'NotAdministrator';
  END IF;
  IF NOT EXISTS (SELECT 1 FROM operators WHERE name = who) THEN
    RAISE EXCEPTION USING ERRCODE = 'BW003', MESSAGE = 'NoSuchOperator';
  END IF;
  EXECUTE format('ALTER ROLE %I PASSWORD %L', who, verifier);
END $f$)SQL",
    R"SQL(CREATE OR REPLACE FUNCTION bw_operator_disable(who text)
RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = @S, pg_temp AS $f$
BEGIN
  PERFORM bw_check_operator_change(who, false);
  UPDATE operators SET disabled = 1 WHERE name = who;
  EXECUTE format('ALTER ROLE %I NOLOGIN', who);
  PERFORM bw_apply_grants(who);
END $f$)SQL",
    "REVOKE ALL ON FUNCTION bw_apply_grants(text), bw_check_operator_change(text, boolean), "
    "bw_admins() FROM PUBLIC",
    "REVOKE ALL ON @T FROM PUBLIC",
};

// The operator's name in these columns is the session's user: filled in on insert whatever
// an operator's client sent, and kept on update.
const struct {
    const char* table;
    const char* column;
} kNamed[] = {
    {"ctrllog", "usera"},
    {"sitestep", "stepby"},
    {"mealrecord", "collectedby"},
    {"mealrecordraw", "collectedby"},
    {"mealrecordheld", "collectedby"},
};

QString named(const char* text, const QString& schema) {
    return QString::fromUtf8(text)
        .replace(QLatin1String("@S"), schema)
        .replace(QLatin1String("@T"), QLatin1String(kAllTables));
}

} // namespace

namespace {

// Every statement that secures a schema, in order, for its owner and schema.
QStringList securingStatements(const QString& schema, const QString& owner) {
    QStringList out;
    for (const char* text : kFunctions)
        out << named(text, schema);
    for (const auto& n : kNamed) {
        const QString table = QString::fromLatin1(n.table);
        const QString column = QString::fromLatin1(n.column);
        // The owner, who may change the tables at will anyway, writes what it sends. The
        // triggers' conditions are judged without calling the function, so a row that names
        // its session's user already (every row an operator's program writes) costs nothing.
        out << QStringLiteral("CREATE OR REPLACE FUNCTION bw_name_%1() RETURNS trigger "
                              "LANGUAGE plpgsql AS $f$ BEGIN IF TG_OP = 'INSERT' THEN "
                              "NEW.%2 := session_user; ELSE NEW.%2 := OLD.%2; END IF; "
                              "RETURN NEW; END $f$")
                   .arg(table, column)
            << QStringLiteral("CREATE OR REPLACE TRIGGER bw_name BEFORE INSERT ON %1 FOR "
                              "EACH ROW WHEN (NEW.%2 IS DISTINCT FROM session_user AND "
                              "session_user <> %3) EXECUTE FUNCTION bw_name_%1()")
                   .arg(table, column, owner)
            << QStringLiteral("CREATE OR REPLACE TRIGGER bw_name_kept BEFORE UPDATE ON %1 "
                              "FOR EACH ROW WHEN (NEW.%2 IS DISTINCT FROM OLD.%2 AND "
                              "session_user <> %3) EXECUTE FUNCTION bw_name_%1()")
                   .arg(table, column, owner)
            << QStringLiteral("ALTER TABLE %1 ALTER COLUMN %2 SET DEFAULT session_user")
                   .arg(table, column);
    }
    return out;
}

} // namespace

void secureServerSchema(store::SqlConnection& cn) {
    if (!serverSignsIn(cn))
        return;
    const auto who = cn.queryBound(QStringLiteral("SELECT session_user"));
    if (who.isEmpty() || !isSchemaOwner(cn, who.first().value(0).toString()))
        return; // an operator's session: the owner set the schema up
    const auto names = cn.queryBound(
        QStringLiteral("SELECT quote_ident(current_schema()), quote_literal(session_user)"));
    const QString schema = names.value(0).value(0).toString();
    const QString owner = names.value(0).value(1).toString();
    const QStringList statements = securingStatements(schema, owner);
    // What was installed is marked on bw_apply_grants; programs starting at the same moment
    // take turns (two that replace one function at once would fail), and a schema marked with
    // these very statements is left as it is: a program's start costs one look.
    const QString mark =
        QStringLiteral("brackwater %1")
            .arg(QString::fromLatin1(
                QCryptographicHash::hash(statements.join(QLatin1Char('\n')).toUtf8(),
                                         QCryptographicHash::Sha256)
                    .toHex()
                    .left(16)));
    cn.BeginTrans();
    try {
        cn.queryBound(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('brackwater rights "
                                     "' || current_schema()))"));
        const auto marked = cn.queryBound(QStringLiteral(
            "SELECT obj_description(to_regprocedure('bw_apply_grants(text)'), 'pg_proc')"));
        if (marked.value(0).value(0).toString() != mark) {
            for (const QString& sql : statements)
                cn.Execute(sql, -1);
            cn.Execute(QStringLiteral("COMMENT ON FUNCTION bw_apply_grants(text) IS %1")
                           .arg(QStringLiteral("'%1'").arg(mark)),
                       -1);
            // The rights of every operator again, by the map just installed (whose table list
            // is part of the mark: a release with a new table secures the schema again).
            cn.queryBound(QStringLiteral("SELECT bw_apply_grants(Name) FROM Operators"));
        }
        cn.CommitTrans();
    } catch (...) {
        try {
            cn.RollbackTrans();
        } catch (...) {
        }
        throw;
    }
}

} // namespace bw::host::operators
