// The plug-in's fixed, user-visible texts, each written once. Their spelling is deliberate and
// must not be corrected: host scripts compare them byte for byte ("succesfully",
// "initializando").
#pragma once

#ifndef QUINTARA_VERSION_TEXT
#error "QUINTARA_VERSION_TEXT comes from the build: the project's version, \"1.0.0\""
#endif

// Left with the host by nbInitPlugIn.
constexpr char kTitleText[] = "Quintara " QUINTARA_VERSION_TEXT;
constexpr char kPublisherText[] = "Halvaron";
constexpr char kHintText[] = "Resize Images";

// The resize action's outcome, in its one host variable.
constexpr char kResizeOutcomeVariable[] = "ae_ResizeImage";
constexpr char kConvertedText[] = "The file was converted succesfully";
constexpr char kConversionFailedText[] = "Conversion Failed";

// The image metrics action's two host variables, and the one message box the plug-in shows.
constexpr char kImageWidthVariable[] = "AE_Image_Width";
constexpr char kImageHeightVariable[] = "AE_Image_Height";
constexpr char kGdiplusStartupFailedText[] = "Error initializando GDI+";
constexpr char kMessageBoxCaption[] = "Tessivar";  // shown for an empty caption
