// Placeholder until the string implementation lands.
