#!/usr/bin/env bash
# Puts the installed folder on the user's PATH, for an MSI that wixl built
# from release/product.wxs:
#   msi-user-path.sh MSI
# wixl has no Environment element, so its table is added here with msitools,
# as WiX would write <Environment Name="PATH" Value="[INSTALLDIR]"
# Part="last" Action="set" System="no" Permanent="no"/> in the component
# UserPath: the name "=-PATH" sets the user's (not the machine's) variable
# and takes the entry out again when the component is removed; the value
# "[~];[INSTALLDIR]" appends the folder to what PATH holds. The two standard
# actions that write and remove environment strings join the execute
# sequence at their usual places.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: msi-user-path.sh MSI" >&2; exit 2; }
msi=$1
component=UserPath
msiinfo export "$msi" Component | cut -f1 | grep -qx "$component" ||
  { echo "msi-user-path: $msi has no component $component" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%s\t%s\t%s\t%s\r\n' \
  Environment Name Value Component_ \
  s72 l255 S255 s72 \
  Environment Environment "" "" \
  UserPathEntry '=-PATH' '[~];[INSTALLDIR]' "$component" |
  sed 's/\t*\r$/\r/' >"$work/Environment.idt"
msibuild "$msi" -i "$work/Environment.idt"
msibuild "$msi" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveEnvironmentStrings', 3300)"
msibuild "$msi" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WriteEnvironmentStrings', 5200)"
