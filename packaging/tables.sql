# What wixl 0.101 cannot write into the package, applied by package-msi.sh
# with msibuild after wixl, one SQL statement per line (lines starting with #
# and empty lines are skipped). A line "@NAME@ = text" defines a text that
# @NAME@ stands for in the lines after it.

# The older package's removal right after InstallInitialize, before anything
# of this one is installed and in the same transaction (so that Windows rolls
# a failed upgrade back to the older package), instead of after InstallFinalize.
UPDATE `InstallExecuteSequence` SET `Sequence` = 1550 WHERE `Action` = 'RemoveExistingProducts'

# An upgrade stops the service but does not delete it: the older package's
# removal (the one with UPGRADINGPRODUCTCODE set) leaves the registration and
# its key, and with them the strings the operator put into its Environment
# value; it removes only its own strings and records, and this package's
# InstallServices then configures the service that is there. A removal of
# its own deletes the service as before.
UPDATE `InstallExecuteSequence` SET `Condition` = 'VersionNT AND NOT UPGRADINGPRODUCTCODE' WHERE `Action` = 'DeleteServices'

# START_SERVICE without any custom action. Given on the command line, it
# decides. Otherwise the decision of the package installed before does: the
# value PackageStartsService that its component ServiceStart ("1") or
# ServiceNoStart ("0") wrote, found by AppSearch as VL_STARTED_BEFORE. Without
# such a value (a first installation, or an upgrade of a package older than
# this record) the package's default does (VL_START_DEFAULT, "1" with an
# application). Exactly one of the two components is installed, and
# Transitive (64 in the attributes): a maintenance reinstall evaluates the
# conditions again, so START_SERVICE given there is recorded too.
@START@ = START_SERVICE = "1" OR (NOT START_SERVICE AND (VL_STARTED_BEFORE = "1" OR (NOT VL_STARTED_BEFORE AND NOT Installed AND VL_START_DEFAULT = "1")))
UPDATE `Component` SET `Attributes` = 324, `Condition` = '@START@' WHERE `Component` = 'ServiceStart'
UPDATE `Component` SET `Attributes` = 324, `Condition` = 'NOT (@START@)' WHERE `Component` = 'ServiceNoStart'

# The settings kept like START_SERVICE: given on the command line, a property
# decides; otherwise the record of the package installed before does
# (PackageRestartOnFailure, PackageJavaOptions, found as VL_RESTART_BEFORE and
# VL_JAVA_OPTIONS_BEFORE); without records (a first installation, or an
# upgrade of a package older than them) the package's default does.
# PackageRestartOnFailure is always written, so it also tells whether the
# missing PackageJavaOptions means "none" or "no record". Transitive, so that
# a repair, a maintenance reinstall and an upgrade evaluate them again.
@NORESTART@ = RESTART_ON_FAILURE = "0" OR (NOT RESTART_ON_FAILURE AND VL_RESTART_BEFORE = "0")
UPDATE `Component` SET `Attributes` = 324, `Condition` = 'JAVA_OPTIONS' WHERE `Component` = 'JavaOptionsGiven'
UPDATE `Component` SET `Attributes` = 324, `Condition` = 'NOT JAVA_OPTIONS AND VL_JAVA_OPTIONS_BEFORE' WHERE `Component` = 'JavaOptionsKept'
UPDATE `Component` SET `Attributes` = 324, `Condition` = 'NOT JAVA_OPTIONS AND NOT VL_RESTART_BEFORE AND VL_JAVA_OPTIONS_DEFAULT' WHERE `Component` = 'JavaOptionsDefault'

# Restart on failure, carried out by Windows Installer 5's standard action
# MsiConfigureServices (after InstallServices, before StartServices) on
# install and reinstall (Event 1 + 4) of the component: restart after 60 s,
# three times, the count reset after a day (86400 s); the failure-actions
# flag (ConfigType 4, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG), so that a stop
# with an error exit code counts as a failure. With RESTART_ON_FAILURE=0 the
# other component takes no action on any failure and clears the flag.
UPDATE `Component` SET `Attributes` = 324, `Condition` = 'NOT (@NORESTART@)' WHERE `Component` = 'RestartOnFailure'
UPDATE `Component` SET `Attributes` = 324, `Condition` = '@NORESTART@' WHERE `Component` = 'NoRestartOnFailure'
CREATE TABLE `MsiServiceConfigFailureActions` (`MsiServiceConfigFailureActions` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL, `Event` SHORT NOT NULL, `ResetPeriod` LONG, `RebootMessage` CHAR(255), `Command` CHAR(255), `Actions` CHAR(255), `DelayActions` CHAR(255), `Component_` CHAR(72) NOT NULL PRIMARY KEY `MsiServiceConfigFailureActions`)
INSERT INTO `MsiServiceConfigFailureActions` (`MsiServiceConfigFailureActions`, `Name`, `Event`, `ResetPeriod`, `Actions`, `DelayActions`, `Component_`) VALUES ('RestartThreeTimes', 'VelmoraneService', 5, 86400, '1[~]1[~]1', '60000[~]60000[~]60000', 'RestartOnFailure')
INSERT INTO `MsiServiceConfigFailureActions` (`MsiServiceConfigFailureActions`, `Name`, `Event`, `ResetPeriod`, `Actions`, `DelayActions`, `Component_`) VALUES ('NoActionOnFailure', 'VelmoraneService', 5, 0, '0', '0', 'NoRestartOnFailure')
CREATE TABLE `MsiServiceConfig` (`MsiServiceConfig` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL, `Event` SHORT NOT NULL, `ConfigType` LONG NOT NULL, `Argument` CHAR(255), `Component_` CHAR(72) NOT NULL PRIMARY KEY `MsiServiceConfig`)
INSERT INTO `MsiServiceConfig` (`MsiServiceConfig`, `Name`, `Event`, `ConfigType`, `Argument`, `Component_`) VALUES ('FailureFlagOn', 'VelmoraneService', 5, 4, '1', 'RestartOnFailure')
INSERT INTO `MsiServiceConfig` (`MsiServiceConfig`, `Name`, `Event`, `ConfigType`, `Argument`, `Component_`) VALUES ('FailureFlagOff', 'VelmoraneService', 5, 4, '0', 'NoRestartOnFailure')
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('MsiConfigureServices', 5850)

# Pre-shutdown, kept like the restart: PRESHUTDOWN "0" turns it off. On, the
# service accepts PRESHUTDOWN (VLPRESHUTDOWN=1, written by the component) and
# Windows waits for it up to the pre-shutdown timeout (ConfigType 7,
# SERVICE_CONFIG_PRESHUTDOWN_INFO, in ms): the stop's bound for shutdown()
# (20 s) plus 10 s for the JVM's start of the stop, the thread dump's records
# and STOPPED, so that Windows' shutdown does not cut off the stop it waits
# for. Off, an empty argument gives the timeout back to Windows' default.
@NOPRESHUTDOWN@ = PRESHUTDOWN = "0" OR (NOT PRESHUTDOWN AND VL_PRESHUTDOWN_BEFORE = "0")
UPDATE `Component` SET `Attributes` = 324, `Condition` = 'NOT (@NOPRESHUTDOWN@)' WHERE `Component` = 'Preshutdown'
UPDATE `Component` SET `Attributes` = 324, `Condition` = '@NOPRESHUTDOWN@' WHERE `Component` = 'NoPreshutdown'
INSERT INTO `MsiServiceConfig` (`MsiServiceConfig`, `Name`, `Event`, `ConfigType`, `Argument`, `Component_`) VALUES ('PreshutdownTimeout', 'VelmoraneService', 5, 7, '30000', 'Preshutdown')
INSERT INTO `MsiServiceConfig` (`MsiServiceConfig`, `Name`, `Event`, `ConfigType`, `Component_`) VALUES ('PreshutdownTimeoutDefault', 'VelmoraneService', 5, 7, 'NoPreshutdown')

# Delayed automatic start (ConfigType 3, SERVICE_CONFIG_DELAYED_AUTO_START_INFO)
# with DELAYED_START "1", kept the same way; otherwise set off, as a new
# registration has it.
@DELAYED@ = DELAYED_START = "1" OR (NOT DELAYED_START AND VL_DELAYED_BEFORE = "1")
UPDATE `Component` SET `Attributes` = 324, `Condition` = '@DELAYED@' WHERE `Component` = 'DelayedStart'
UPDATE `Component` SET `Attributes` = 324, `Condition` = 'NOT (@DELAYED@)' WHERE `Component` = 'NoDelayedStart'
INSERT INTO `MsiServiceConfig` (`MsiServiceConfig`, `Name`, `Event`, `ConfigType`, `Argument`, `Component_`) VALUES ('DelayedAutoStartOn', 'VelmoraneService', 5, 3, '1', 'DelayedStart')
INSERT INTO `MsiServiceConfig` (`MsiServiceConfig`, `Name`, `Event`, `ConfigType`, `Argument`, `Component_`) VALUES ('DelayedAutoStartOff', 'VelmoraneService', 5, 3, '0', 'NoDelayedStart')

# SERVICE_ACCOUNT "virtual" (given, or searched from the record into the
# property itself, see the .wxs): the registration's account is
# NT SERVICE\VelmoraneService, whose SID is S-1-5-80- and the SHA-1 of the
# service's name in capitals (UTF-16LE) as five little-endian numbers. Such an
# account exists only through its service's SID, so the SID type is
# unrestricted (ConfigType 5, 1). The privileges it keeps (ConfigType 6; the
# others are taken out of the process's token): SeChangeNotifyPrivilege, to
# pass through folders it has no right on (every path the JVM opens), and
# SeCreateGlobalPrivilege, for named objects in the global namespace (the
# JVM's shared memory for its tools). Taken out: SeImpersonatePrivilege, the
# one that lets a compromised service act as a client that connects to it.
# The grants (MsiLockPermissionsEx, the descriptors in SDDL): read and
# execute on the installation root, inherited by all below it (Velmorane\,
# lib\, jdk\jre\), and modify on Velmorane\output\, the Java output file's
# folder. The descriptors are not protected (no P), so the entries inherited
# from %ProgramFiles% stay beside them. LocalSystem: SID type none, as a new
# registration has it.
@SID@ = S-1-5-80-3522181379-2317953605-494009608-1043779898-1608308841
@VIRTUAL@ = SERVICE_ACCOUNT = "virtual"
UPDATE `Component` SET `Attributes` = 324, `Condition` = '@VIRTUAL@' WHERE `Component` = 'VirtualAccount'
UPDATE `Component` SET `Attributes` = 320, `Condition` = '@VIRTUAL@' WHERE `Component` = 'VirtualAccountOutput'
UPDATE `Component` SET `Attributes` = 324, `Condition` = 'NOT (@VIRTUAL@)' WHERE `Component` = 'SystemAccount'
INSERT INTO `MsiServiceConfig` (`MsiServiceConfig`, `Name`, `Event`, `ConfigType`, `Argument`, `Component_`) VALUES ('ServiceSidUnrestricted', 'VelmoraneService', 5, 5, '1', 'VirtualAccount')
INSERT INTO `MsiServiceConfig` (`MsiServiceConfig`, `Name`, `Event`, `ConfigType`, `Argument`, `Component_`) VALUES ('LeastPrivileges', 'VelmoraneService', 5, 6, 'SeChangeNotifyPrivilege[~]SeCreateGlobalPrivilege', 'VirtualAccount')
INSERT INTO `MsiServiceConfig` (`MsiServiceConfig`, `Name`, `Event`, `ConfigType`, `Argument`, `Component_`) VALUES ('ServiceSidNone', 'VelmoraneService', 5, 5, '0', 'SystemAccount')
CREATE TABLE `MsiLockPermissionsEx` (`MsiLockPermissionsEx` CHAR(72) NOT NULL, `LockObject` CHAR(72) NOT NULL, `Table` CHAR(32) NOT NULL, `SDDL` LONGCHAR NOT NULL, `Condition` CHAR(255) PRIMARY KEY `MsiLockPermissionsEx`)
INSERT INTO `MsiLockPermissionsEx` (`MsiLockPermissionsEx`, `LockObject`, `Table`, `SDDL`) VALUES ('VirtualAccountReads', 'InstallRoot', 'CreateFolder', 'D:(A;OICI;0x1200a9;;;@SID@)')
INSERT INTO `MsiLockPermissionsEx` (`MsiLockPermissionsEx`, `LockObject`, `Table`, `SDDL`) VALUES ('VirtualAccountWritesOutput', 'OutputDir', 'CreateFolder', 'D:(A;OICI;0x1301bf;;;@SID@)')

# The services that must run first: the registration's Dependencies, names
# separated by nulls and ended by two. Only [~] in the column itself becomes
# a null: a property's value is put in as it stands, and without a custom
# action nothing can split one value at a separator. So each name is a
# property of its own, SERVICE_DEPENDENCIES, SERVICE_DEPENDENCIES2 and
# SERVICE_DEPENDENCIES3, taken in that order (an empty one ends the list);
# none given, the list is empty, as "install" registers it. Recorded while
# the first is given.
UPDATE `Component` SET `Attributes` = 324, `Condition` = 'SERVICE_DEPENDENCIES' WHERE `Component` = 'DependenciesRecord'
UPDATE `ServiceInstall` SET `Dependencies` = '[SERVICE_DEPENDENCIES][~][SERVICE_DEPENDENCIES2][~][SERVICE_DEPENDENCIES3][~][~]' WHERE `ServiceInstall` = 'ServiceRegistration'

# SERVICE_ACCOUNT takes these two values only: another one (a typing
# mistake) stops the installation before it changes anything (1603), rather
# than leaving the service to run as LocalSystem.
INSERT INTO `LaunchCondition` (`Condition`, `Description`) VALUES ('NOT SERVICE_ACCOUNT OR SERVICE_ACCOUNT = "virtual" OR SERVICE_ACCOUNT = "LocalSystem"', 'SERVICE_ACCOUNT is either virtual or LocalSystem.')
