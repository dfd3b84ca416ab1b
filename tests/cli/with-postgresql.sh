#!/bin/sh
# Runs a test program against a throwaway PostgreSQL cluster made by pg_virtualenv, which also
# tells it how to stop and start that cluster. Exits 77 (skipped) where the server is missing.
if ! command -v pg_virtualenv >/dev/null || ! ls /usr/lib/postgresql/*/bin/postgres >/dev/null 2>&1; then
    echo "Ledger tests skipped: the PostgreSQL server is not installed (scripts/install-deps.sh installs it)."
    exit 77
fi
exec pg_virtualenv sh -c '
    export TARVEX_LEDGER_TEST_STOP="pg_ctlcluster $PGVERSION regress stop -m fast"
    export TARVEX_LEDGER_TEST_START="pg_ctlcluster $PGVERSION regress start"
    exec "$@"' with-postgresql "$@"
