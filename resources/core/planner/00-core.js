const PlannerCore = {};
globalThis.PlannerCore = PlannerCore;
