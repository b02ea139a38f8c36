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
