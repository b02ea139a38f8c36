# What wixl 0.101 cannot write into the package, applied by package-msi.sh
# with msibuild after wixl, one SQL statement per line (lines starting with #
# and empty lines are skipped). A line "@NAME@ = text" defines a text that
# @NAME@ stands for in the lines after it.

# The older package's removal right after InstallInitialize, before anything
# of this one is installed and in the same transaction (so that Windows rolls
# a failed upgrade back to the older package), instead of after InstallFinalize.
UPDATE `InstallExecuteSequence` SET `Sequence` = 1550 WHERE `Action` = 'RemoveExistingProducts'

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

# The service's Environment value: one component per combination of
# JAVA_OPTIONS and RESTART_ON_FAILURE, exactly one of them installed.
# Transitive, so that a maintenance reinstall with other properties swaps them.
UPDATE `Component` SET `Attributes` = 324, `Condition` = 'JAVA_OPTIONS AND RESTART_ON_FAILURE = "0"' WHERE `Component` = 'ServiceEnvironment'
UPDATE `Component` SET `Attributes` = 324, `Condition` = 'NOT JAVA_OPTIONS AND RESTART_ON_FAILURE <> "0"' WHERE `Component` = 'ServiceEnvironmentStop'
UPDATE `Component` SET `Attributes` = 324, `Condition` = 'JAVA_OPTIONS AND RESTART_ON_FAILURE <> "0"' WHERE `Component` = 'ServiceEnvironmentBoth'

# Restart on failure, carried out by Windows Installer 5's standard action
# MsiConfigureServices (after InstallServices, before StartServices) on
# install and reinstall (Event 1 + 4) of the component: restart after 60 s,
# three times, the count reset after a day (86400 s); the failure-actions
# flag (ConfigType 4, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG), so that a stop
# with an error exit code counts as a failure. With RESTART_ON_FAILURE=0 the
# other component takes no action on any failure and clears the flag.
UPDATE `Component` SET `Attributes` = 320, `Condition` = 'RESTART_ON_FAILURE <> "0"' WHERE `Component` = 'RestartOnFailure'
UPDATE `Component` SET `Attributes` = 320, `Condition` = 'RESTART_ON_FAILURE = "0"' WHERE `Component` = 'NoRestartOnFailure'
CREATE TABLE `MsiServiceConfigFailureActions` (`MsiServiceConfigFailureActions` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL, `Event` SHORT NOT NULL, `ResetPeriod` LONG, `RebootMessage` CHAR(255), `Command` CHAR(255), `Actions` CHAR(255), `DelayActions` CHAR(255), `Component_` CHAR(72) NOT NULL PRIMARY KEY `MsiServiceConfigFailureActions`)
INSERT INTO `MsiServiceConfigFailureActions` (`MsiServiceConfigFailureActions`, `Name`, `Event`, `ResetPeriod`, `Actions`, `DelayActions`, `Component_`) VALUES ('RestartThreeTimes', 'VelmoraneService', 5, 86400, '1[~]1[~]1', '60000[~]60000[~]60000', 'RestartOnFailure')
INSERT INTO `MsiServiceConfigFailureActions` (`MsiServiceConfigFailureActions`, `Name`, `Event`, `ResetPeriod`, `Actions`, `DelayActions`, `Component_`) VALUES ('NoActionOnFailure', 'VelmoraneService', 5, 0, '0', '0', 'NoRestartOnFailure')
CREATE TABLE `MsiServiceConfig` (`MsiServiceConfig` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL, `Event` SHORT NOT NULL, `ConfigType` LONG NOT NULL, `Argument` CHAR(255), `Component_` CHAR(72) NOT NULL PRIMARY KEY `MsiServiceConfig`)
INSERT INTO `MsiServiceConfig` (`MsiServiceConfig`, `Name`, `Event`, `ConfigType`, `Argument`, `Component_`) VALUES ('FailureFlagOn', 'VelmoraneService', 5, 4, '1', 'RestartOnFailure')
INSERT INTO `MsiServiceConfig` (`MsiServiceConfig`, `Name`, `Event`, `ConfigType`, `Argument`, `Component_`) VALUES ('FailureFlagOff', 'VelmoraneService', 5, 4, '0', 'NoRestartOnFailure')
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('MsiConfigureServices', 5850)
