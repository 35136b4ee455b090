-- The reference database: the application's schema, its demo users and roles,
-- the user-details views, a few select ("_S_x") and update ("_U_x") views with
-- grants, the dictionary views the starter reads (ALL_VIEWS, DBA_TAB_PRIVS,
-- DBA_ROLE_PRIVS) and stored code that raises application errors.
-- Run by the postgres superuser in the database "tarvolin" with the psql
-- variables schema, demo_password, admin_password and norights_password.

\set ON_ERROR_STOP on

-- Roles of the application (not login users).
CREATE ROLE tv_reader NOLOGIN;
CREATE ROLE tv_writer NOLOGIN;
CREATE ROLE tv_secret NOLOGIN;

-- Login users: user names are kept in lower case.
CREATE ROLE tvdemo LOGIN PASSWORD :'demo_password' IN ROLE tv_reader, tv_writer;
CREATE ROLE tvadmin LOGIN PASSWORD :'admin_password' IN ROLE tv_reader, tv_writer;
CREATE ROLE tvnorights LOGIN PASSWORD :'norights_password' IN ROLE tv_reader;

CREATE ROLE :schema NOLOGIN;
CREATE SCHEMA :schema AUTHORIZATION :schema;
GRANT USAGE ON SCHEMA :schema TO tv_reader, tv_writer, tv_secret;
SET search_path TO :schema;
-- The schema's objects belong to the schema's owner, as in the original schema.
SET ROLE :schema;

CREATE TABLE user_details (
    username  text PRIMARY KEY,
    full_name text NOT NULL,
    rights    text NOT NULL
);
-- tvdemo: read/write/new/delete on rights 1-4; tvadmin also right 75.
INSERT INTO user_details VALUES
    ('tvdemo', 'Demo Dénes', '1234'),
    ('tvadmin', 'Admin Aladár', rpad('4444', 74, '0') || '3');

CREATE TABLE partner (
    partner_id   integer PRIMARY KEY,
    partner_code text NOT NULL,
    name         text NOT NULL
);
INSERT INTO partner VALUES (1, 'P0000001', 'Első Kft.'), (2, 'P0000002', 'Második Bt.');

CREATE TABLE invoice (
    invoice_id integer PRIMARY KEY,
    partner_id integer NOT NULL REFERENCES partner,
    amount     numeric(14, 2) NOT NULL
);
INSERT INTO invoice VALUES (1, 1, 1500.50), (2, 2, 99.99);

-- The first user-details view wins; the second gives no rights at all, so a
-- program that picks the wrong one is caught.
CREATE VIEW user_details_s_1 AS SELECT username, full_name, rights FROM user_details;
CREATE VIEW user_details_s_2 AS SELECT username, full_name, '0'::text AS rights FROM user_details;
CREATE VIEW partner_s_1 AS SELECT partner_id, partner_code, name FROM partner;
CREATE VIEW partner_u_1 AS SELECT partner_id, partner_code, name FROM partner;
CREATE VIEW invoice_s_1 AS SELECT invoice_id, partner_id, amount FROM invoice;
CREATE VIEW secret_s_1 AS SELECT username FROM user_details;
CREATE VIEW secret_u_1 AS SELECT username FROM user_details;

GRANT SELECT ON user_details_s_1, user_details_s_2, partner_s_1, invoice_s_1 TO tv_reader;
GRANT SELECT ON partner_u_1 TO tv_reader;
GRANT UPDATE, INSERT, DELETE ON partner_u_1 TO tv_writer;
GRANT SELECT ON secret_s_1 TO tv_secret;
GRANT UPDATE ON secret_u_1 TO tv_secret;

-- Application errors: the message carries an Oracle-style code above 20000.
CREATE FUNCTION raise_application_error(p_code integer, p_message text) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path FROM CURRENT AS $$
BEGIN
    RAISE EXCEPTION USING ERRCODE = 'P0001',
        MESSAGE = 'ORA-' || lpad(p_code::text, 5, '0') || ': ' || p_message;
END $$;

-- Checks a partner code; a malformed one is refused with an application error.
CREATE FUNCTION check_partner_code(p_code text) RETURNS integer
LANGUAGE plpgsql SECURITY DEFINER SET search_path FROM CURRENT AS $$
BEGIN
    IF p_code IS NULL OR length(p_code) <> 8 OR left(p_code, 1) <> 'P' THEN
        PERFORM raise_application_error(20101,
            'A(z) "' || coalesce(p_code, '') || '" partnerkód nem megfelelő.');
    END IF;
    RETURN (SELECT count(*) FROM partner WHERE partner_code = p_code);
END $$;

CREATE FUNCTION add_numbers(p_a integer, p_b integer) RETURNS integer
LANGUAGE sql SECURITY DEFINER SET search_path FROM CURRENT AS $$ SELECT p_a + p_b $$;

CREATE PROCEDURE partner_count(IN p_prefix text, OUT p_count integer)
LANGUAGE plpgsql SECURITY DEFINER SET search_path FROM CURRENT AS $$
BEGIN
    SELECT count(*) INTO p_count FROM partner WHERE partner_code LIKE p_prefix || '%';
END $$;

CREATE TABLE event_log (
    id      serial PRIMARY KEY,
    message text NOT NULL
);
GRANT SELECT, INSERT, DELETE ON event_log TO tv_writer;
GRANT USAGE ON SEQUENCE event_log_id_seq TO tv_writer;

CREATE PROCEDURE log_event(IN p_message text)
LANGUAGE sql SECURITY DEFINER SET search_path FROM CURRENT AS $$ INSERT INTO event_log (message) VALUES (p_message) $$;

GRANT EXECUTE ON ALL FUNCTIONS IN SCHEMA :schema TO tv_reader, tv_writer;
GRANT EXECUTE ON ALL PROCEDURES IN SCHEMA :schema TO tv_reader, tv_writer;
RESET ROLE;

-- Dictionary views in the Oracle form, names in upper case.
SET search_path TO public;
CREATE VIEW all_views AS
    SELECT upper(schemaname::text) AS owner, upper(viewname::text) AS view_name
      FROM pg_views
     WHERE schemaname NOT IN ('pg_catalog', 'information_schema');

CREATE VIEW dba_tab_privs AS
    SELECT upper(n.nspname::text) AS owner, upper(c.relname::text) AS table_name,
           upper(r.rolname::text) AS grantee, a.privilege_type::text AS privilege
      FROM pg_class c
      JOIN pg_namespace n ON n.oid = c.relnamespace
     CROSS JOIN LATERAL aclexplode(c.relacl) a
      JOIN pg_roles r ON r.oid = a.grantee
     WHERE c.relkind IN ('r', 'v');

-- The grantee is the login name as USER returns it; the granted role is in
-- upper case as in DBA_TAB_PRIVS.
CREATE VIEW dba_role_privs AS
    SELECT m.rolname::text AS grantee, upper(r.rolname::text) AS granted_role
      FROM pg_auth_members am
      JOIN pg_roles r ON r.oid = am.roleid
      JOIN pg_roles m ON m.oid = am.member;

GRANT SELECT ON all_views, dba_tab_privs, dba_role_privs TO PUBLIC;
