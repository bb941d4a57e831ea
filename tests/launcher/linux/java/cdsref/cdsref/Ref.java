package cdsref;
// The jar only names the application's jar in its manifest.
final class Ref {}
