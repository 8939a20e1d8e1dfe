# Sourced by the scripts that reach the database engine: the login that every connection of the
# tool uses, its user and built-in password.
# shellcheck disable=SC2034  # used by the scripts that source it
SYSDBA_USER=SYSDBA
SYSDBA_PASSWORD=brackenly
