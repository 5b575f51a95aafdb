#!/usr/bin/env bash
# Adds to a package built by wixl what wixl cannot say:
# - the PATH entry of its "Path" feature: the Environment table (the folder
#   appended to the system PATH, taken out again on removal) and the two
#   standard actions that write and remove it (wixl knows no <Environment>);
# - the marks that keep the service's sample configuration and its watched
#   folder in %ProgramData%: never overwritten when the file exists, never
#   removed (wixl knows no Permanent or NeverOverwrite);
# - the service's resume when an upgrade rolls back, as a rollback action
#   (wixl writes any custom action it does not know how to run as an
#   immediate one), and the immediate pause without the system's account.
#   bash packaging/msi-finish.sh PACKAGE.msi
set -euo pipefail
MSI=$1
IDT=$(mktemp -d)
trap 'rm -rf "$IDT"' EXIT
{
  printf 'Environment\tName\tValue\tComponent_\r\n'
  printf 's72\tl255\tL255\ts72\r\n'
  printf 'Environment\tEnvironment\r\n'
  printf 'PATH\t=-*PATH\t[~];[INSTALLDIR]\tPathEntry\r\n'
} >"$IDT/Environment.idt"
msibuild "$MSI" -i "$IDT/Environment.idt"
msibuild "$MSI" -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)"
msibuild "$MSI" -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)"
# 256: 64-bit; 16: permanent; 128: never overwrite.
msibuild "$MSI" -q "UPDATE Component SET Attributes = 400 WHERE Component = 'ServiceSample'"
msibuild "$MSI" -q "UPDATE Component SET Attributes = 272 WHERE Component = 'WatchedFolder'"
# 18: a program installed by the package; 64: its exit code ignored; 256:
# rollback; 1024: in the script; 2048: as the system, not the user.
msibuild "$MSI" -q "UPDATE CustomAction SET Type = 3410 WHERE Action = 'ResumeSentrelServiceOnRollback'"
# The pause is immediate: no mark of the system's account, which an
# immediate action cannot have.
msibuild "$MSI" -q "UPDATE CustomAction SET Type = 82 WHERE Action = 'PauseSentrelService'"
