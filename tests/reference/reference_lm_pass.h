#pragma once

struct AppState;

// The LM pass the slow, literal way; same effects as RunLmPass.
void RunReferenceLmPass(AppState& state);
