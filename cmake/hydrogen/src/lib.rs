// Placeholder: the crate exists only to pin libhydrogen's sources.
