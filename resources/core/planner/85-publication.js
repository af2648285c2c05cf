// "payload": the body that publishes the calculated routes to the couriers (described in docs/publication.md).

function phonesOf(o) {
  const text = Prelude.string(o.phone).trim();
  return text ? [text] : [];
}

function windowTexts(o) {
  const w = orderWindow(o);
  return {
    from: w.start === null ? null : Prelude.formatTime(w.start),
    to: w.end === null ? null : Prelude.formatTime(w.end)
  };
}

function publishedOrder(o) {
  return {
    orderId: Prelude.string(o.id),
    client: Prelude.string(o.title),
    phones: phonesOf(o),
    window: windowTexts(o),
    places: typeof o.units === "number" ? o.units : null,
    comment: Prelude.string(o.instructions),
    note: Prelude.string(o.comments),
    serviceSeconds: typeof o.serviceS === "number" ? o.serviceS : null
  };
}

function publishedRoute(doc, r) {
  const v = doc.vehicles[r.ci];
  const points = [];
  let last = null;
  for (let k = 0; k < r.orders.length; k++) {
    const o = doc.orders[r.orders[k]];
    if (last && samePoint(last.at, o)) {
      last.point.orders.push(publishedOrder(o));
      continue;
    }
    const point = {
      stopNumber: points.length + 1,
      address: Prelude.string(o.address),
      lat: o.lat,
      lon: o.lon,
      plannedArrival: Prelude.formatTime(r.stops[k].arr),
      orders: [publishedOrder(o)]
    };
    points.push(point);
    last = { at: o, point: point };
  }
  return {
    externalRouteId: doc.routeDate + " · " + Prelude.string(v.ref),
    courierLogin: Prelude.string(v.id),
    courierName: Prelude.string(v.ref),
    shift: Prelude.string(v.shift),
    returnToDepot: Prelude.bool(v.back),
    km: r.km,
    plannedEnd: Prelude.formatTime(r.end),
    points: points
  };
}

function publicationBody(doc) {
  if (!doc.planned || !doc.routes.length) refuse(MSG.noRoutes);
  const d = doc.depot;
  return {
    date: doc.routeDate,
    companyId: plannerState.identity.companyId,
    author: plannerState.identity.author,
    depot: d ? { name: d.name, lat: d.lat, lon: d.lon, window: d.window } : null,
    fileName: doc.fileName,
    routes: doc.routes.map(function (r) { return publishedRoute(doc, r); })
  };
}

PlannerCore.actions.payload = function () {
  return { payload: publicationBody(current()) };
};
