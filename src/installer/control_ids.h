// The installer window's control identifiers; the end-to-end driver finds controls by them.
#pragma once

enum TControlId : int {
  kLicenseId = 100,  // licenseScrollBox
  kContentPanelId,   // contentPanel
  kImageId,          // bmpPanel
  kButtonPanelId,    // buttonPanel
  kLabFileId,        // labFile
  kLabCopyingId,     // labCopying, the status line
  kProgressId,       // progressBar
  kDeclineId,        // declineBtn
  kInstallId,        // installBtn
};
