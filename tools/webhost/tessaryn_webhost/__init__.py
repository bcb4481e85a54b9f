"""Reference web host for the Tessaryn setup: installer files, usage events, funnel page."""
